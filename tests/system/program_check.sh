#!/usr/bin/env bash
# Runs the real program on a virtual X display and talks to it as a plain TCP peer that knows
# only the message table: the splash comes first, then the thanks box, and nothing listens
# until both are gone; then port 123 greets the peer with exactly "18Connected"; closing the
# main window sends "18Disconnected" followed by the end of the stream. A paste into a zone
# while no program owns the clipboard leaves the program running.
#
# usage: program_check.sh PROGRAM X11_CLOSE_TOOL
# Exits 77 (skipped) where port 123 cannot be used or there is no virtual display.
set -uo pipefail

program=$1
close_tool=$2
port=123

# shellcheck source=../support/real_program.sh
source "$(dirname "$0")/../support/real_program.sh"
if [[ $(id -u) -ne 0 ]] && (($(cat /proc/sys/net/ipv4/ip_unprivileged_port_start) > port)); then
    skip "port $port needs root or a lower net.ipv4.ip_unprivileged_port_start"
fi
listens $port && skip "something else already listens on port $port"

start_display
# The machine's own router is never asked to open a port for a test.
start_program --no-port-mapping

# The splash is the only window at first: borderless, untitled, 472 x 352, centred.
splash=$(wait_for_splash) || exit 1
xdotool search --onlyvisible --name '^(Thanks|Skarnet)$' >/dev/null 2>&1 && fail "another window opened with the splash"
listens $port && fail "port $port accepted a connection while the splash was up"
xdotool key Return Escape
sleep 0.3
xdotool search --onlyvisible --name '^Thanks$' >/dev/null 2>&1 && fail "a key dismissed the splash"
xdotool mousemove --window "$splash" 236 176 click 1

box=$(wait_for_window Thanks) || fail "the thanks box did not appear after a click on the splash"
sleep 0.5
listens $port && fail "port $port accepted a connection before the thanks box was dismissed"
xdotool windowfocus --sync "$box" key Return
main=$(wait_for_window Skarnet) || fail "the main window did not appear"

wait_until 5 peer_on $port || fail "nothing listens on port $port after the thanks box"
greeting=$(timeout 1 cat <&3)
[[ $greeting == "18Connected" ]] || fail "greeted with '$greeting' instead of '18Connected'"

# Nothing on this display owns the clipboard. Monster Card Zone 3 is a multi-line box.
click_on "$main" txtP1Monster3
xdotool key ctrl+v
sleep 0.5
ended "$app" && fail "the program ended on a paste with nothing on the clipboard"

"$close_tool" Skarnet || fail "could not ask the main window to close"
goodbye=$(timeout 5 cat <&3) || fail "the stream did not end after the window closed"
exec 3<&-
[[ $goodbye == "18Disconnected" ]] || fail "said '$goodbye' instead of '18Disconnected' at close"
wait_until 5 ended "$app" || fail "the program still runs after its main window closed"
finish

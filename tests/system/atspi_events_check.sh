#!/usr/bin/env bash
# Runs the real program on a virtual X display with its accessibility bridge on, links a plain
# TCP peer to it, and listens on the accessibility bus (AT-SPI) as a screen reader does while
# the peer plays: a zone, a chat line, the status line and an announcement. Each must reach the
# listener as an event on the control that shows it, the announcement as an alert, and nothing
# may move the focus before the alert is shown (atspi_tree.py listen does the listening).
#
# usage: atspi_events_check.sh PROGRAM
# Runs on a D-Bus session bus of its own. Exits 77 (skipped) where a tool it needs is missing.
set -uo pipefail

program=$1
check_name="AT-SPI events check"
# shellcheck source=../support/real_program.sh
source "$(dirname "$0")/../support/real_program.sh"
# shellcheck source=../support/accessibility_bus.sh
source "$(dirname "$0")/../support/accessibility_bus.sh"

port=$(free_port) || exit

start_session_bus
start_display
# The machine's own router is never asked to open a port for a test.
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 launch --no-port-mapping --port "$port"

heard=$work/heard
# Until the dice roll's alert, the last thing the peer sends, has been heard.
read_atspi 60 listen 40 alert >"$heard" 2>"$work/listener.log" &
listener=$!
pids+=("$listener")
ready() { grep -qx ready "$heard"; }
require "the listener hears the accessibility bus" wait_until 15 ready

# A plain peer: each write is read as one message, so it pauses between them.
require "a plain peer links on port $port" peer_on "$port"
for message in "13Dragon" "17Bob: hello" "18Opponent is thinking" \
    "19Your opponent: Rolled dice to 4"; do
    sleep 0.5
    printf '%s' "$message" >&3
done
wait "$listener"
exec 3<&-
echo "heard:"
sed 's/^/  /' "$heard"

heard_line() { grep -qE "$1" "$heard"; }
check "the opponent's Monster Card Zone 3 said \"Dragon\"" \
    heard_line "^text-changed:insert\|Opponent's Monster Card Zone 3\|label\|Dragon$"
check "the chat log said \"Bob: hello\"" \
    heard_line '^text-changed:insert\|Chat log\|text\|.*Bob: hello'
check "the status bar said \"Opponent is thinking\"" \
    heard_line '^text-changed:insert\|Status\|status bar\|Opponent is thinking$'
check "an alert showed \"Your opponent: Rolled dice to 4\"" \
    heard_line '^showing\|[^|]*\|alert\|.*Your opponent: Rolled dice to 4'
# Everything before the alert: no control took the focus.
before_alert() { sed -n '/^showing|[^|]*|alert|/q;p' "$heard"; }
no_focus_before_alert() { ! before_alert | grep -q '^focused|'; }
check "no control took the focus before the alert" no_focus_before_alert
finish

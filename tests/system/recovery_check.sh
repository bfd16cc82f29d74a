#!/usr/bin/env bash
# The real program ended abruptly and started again, as after a crash or a power cut.
#
#   1. A board is typed, the program is killed (SIGKILL); the next start asks, after the thanks
#      box, whether to restore, and Yes brings the board back: the screen reader reads it, and a
#      peer that links as another copy receives the restored half. The recovery copy and the
#      settings are first put where earlier versions kept them, which the start moves and reads.
#   2. A clean close leaves no recovery copy, and the next start asks nothing and shows the
#      remembered name.
#   3. A recovery copy that cannot be read is set aside and reported; the program starts.
#   4. A data folder that cannot be written: the program runs and links, and its status line
#      says why it keeps no recovery copy.
#
# usage: recovery_check.sh PROGRAM X11_CLOSE_TOOL
# Runs on a D-Bus session bus of its own. Exits 77 (skipped) where a tool it needs is missing.
set -uo pipefail

program=$1
close_tool=$2
# shellcheck source=../support/real_program.sh
source "$(dirname "$0")/../support/real_program.sh"
# shellcheck source=../support/accessibility_bus.sh
source "$(dirname "$0")/../support/accessibility_bus.sh"
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1

port=$(free_port) || exit
recovery=$XDG_DATA_HOME/skarnet/recovery-$port.json
settings=$XDG_CONFIG_HOME/skarnet/skarnet.conf
former_recovery=$XDG_DATA_HOME/Skarnet/recovery-$port.json
former_settings="$XDG_CONFIG_HOME/Unknown Organization/Skarnet.conf"

# Past the splash and the thanks box; a question may come before the board.
start() { launch --no-port-mapping --port "$port"; }
# The main window is the first window called Skarnet that has the board's size; any other is a
# box that the start shows first. Prints the box's id, or nothing.
box_before_board() {
    local id
    id=$(wait_for_window Skarnet) ||
        fail "neither a box nor the board appeared after the thanks box"
    sized "$id" 1018x714 || echo "$id"
}
wait_board() { wait_for_window Skarnet 1018x714 || fail "the board did not appear"; }
read_board() { read_atspi 20 read "$@"; }
# The whole half a copy sends to a peer that greets it as another copy.
half_sent_to_a_copy() {
    peer_on "$port" || return 1
    printf '20skarnet/1\0' >&3
    timeout 2 cat <&3 | tr '\0' '\n'
    exec 3<&-
}
close_cleanly() {
    "$close_tool" Skarnet || fail "could not ask the main window to close"
    wait_until 5 ended "$app" || fail "the program still runs after its main window closed"
}

start_session_bus
start_display

# 1. Typed, killed, restored.
start
[[ -z $(box_before_board) ]] || fail "a first start asked something"
board=$(wait_board)
click_on "$board" txtP1Monster3
xdotool type --delay 20 "Dragon"
click_on "$board" txtName
xdotool type --delay 20 "Yugi"
for _ in $(seq 30); do grep -q Yugi "$recovery" 2>/dev/null && break; sleep 0.1; done
grep -q Dragon "$recovery" || fail "no recovery copy holds the typed board after 3 s"
kill -9 "$app"
wait "$app" 2>/dev/null
mkdir -p "${former_recovery%/*}" "${former_settings%/*}"
if ! mv "$recovery" "$former_recovery" || ! mv "$settings" "$former_settings"; then
    fail "could not put the recovery copy and the settings where earlier versions kept them"
fi

start
[[ -f $recovery && -f $settings && ! -e ${former_recovery%/*} && ! -e ${former_settings%/*} ]] ||
    fail "the start did not move the recovery copy and the settings from the former folders"
question=$(box_before_board)
[[ -n $question ]] || fail "the start after a kill did not ask about the recovery copy"
xdotool windowfocus --sync "$question" key Return # Yes is the default
wait_board >/dev/null
shown=$(read_board "Your Monster Card Zone 3" "Your name") || fail "could not read the board: $shown"
[[ $shown == $'Dragon\nYugi' ]] || fail "the restored board reads '$shown'"
half=$(half_sent_to_a_copy)
grep -qx "13Dragon" <<<"$half" || fail "a linked copy did not receive the restored zone: $half"
echo "restored after a kill, and sent to a linked copy"

# 2. A clean close leaves nothing to ask about.
close_cleanly
[[ ! -e $recovery ]] || fail "a clean close left the recovery copy"
start
[[ -z $(box_before_board) ]] || fail "the start after a clean close asked something"
board=$(wait_board)
name=$(read_board "Your name") || fail "could not read the board: $name"
[[ $name == Yugi ]] || fail "the name kept in the moved settings reads '$name'"
close_cleanly
echo "a clean close leaves nothing behind"

# 3. An unreadable recovery copy is set aside and reported.
head -c 3000 /dev/urandom >"$recovery"
start
box=$(box_before_board)
[[ -n $box ]] || fail "an unreadable recovery copy was not reported"
xdotool windowfocus --sync "$box" key Return
wait_board >/dev/null
[[ ! -e $recovery ]] || fail "the unreadable recovery copy was left in place"
compgen -G "$recovery.unreadable-*" >/dev/null || fail "the unreadable recovery copy was not kept"
close_cleanly
echo "an unreadable recovery copy is set aside"

# 4. A data folder that cannot be written, whoever runs this: nothing can be made under /proc.
XDG_DATA_HOME=/proc/skarnet-nowhere start
[[ -z $(box_before_board) ]] || fail "a start without a data folder asked something"
wait_board >/dev/null
status=$(read_board "Status") || fail "could not read the status line: $status"
[[ $status == "Cannot keep a recovery copy: "* ]] || fail "the status line reads '$status'"
grep -qx "13" <<<"$(half_sent_to_a_copy)" || fail "the copy without a data folder did not link"
close_cleanly
echo "a data folder that cannot be written is said in the status line"
finish

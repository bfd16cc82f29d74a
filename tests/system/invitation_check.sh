#!/usr/bin/env bash
# A link opened while the program runs goes to the running copy: a second start given an address
# hands it over, ends at once with status 0 and opens no window, and the running copy dials it,
# whether it was still on its splash (it dials once the board is open) or already playing.
# A bare TCP peer on each address records what the running copy sends it.
#
# usage: invitation_check.sh PROGRAM TCP_RECORD_TOOL
# Exits 77 (skipped) where there is no virtual display or no free port.
set -uo pipefail

program=$1
recorder=$2
# shellcheck source=../support/real_program.sh
source "$(dirname "$0")/../support/real_program.sh"

# record N: a bare peer on the Nth address, recording into $work/peer-N.
record() {
    "$recorder" 127.0.0.1 "${peers[$1]}" "$work/peer-$1" 10 >"$work/recorder-$1.out" 2>&1 &
    pids+=("$!")
    wait_until 5 grep -qs listening "$work/recorder-$1.out" || fail "the bare peer did not start"
}
# hand_over N: a second start given the Nth address ends with status 0 within 3 seconds.
hand_over() {
    local started=$SECONDS status
    QT_QPA_PLATFORM=xcb timeout 10 "$program" --no-port-mapping --port "$port" \
        "127.0.0.1:${peers[$1]}" >>"$work/second_start.log" 2>&1
    status=$?
    ((status == 0 && SECONDS - started <= 3)) ||
        { echo "exit status $status after $((SECONDS - started)) s"; return 1; }
}
# dialled N: the running copy linked to the Nth peer and spoke first, as a copy that dials does.
dialled() { wait_until 5 test -s "$work/peer-$1"; }
one_main_window() { [[ $(xdotool search --onlyvisible --name '^Skarnet$' | wc -l) -eq 1 ]]; }
still_runs() { ! ended "$app"; }

port=$(free_port) || exit
peers=()
while ((${#peers[@]} < 2)); do
    peer=$(free_port) || exit
    [[ $peer != "$port" && " ${peers[*]} " != *" $peer "* ]] && peers+=("$peer")
done

start_display
start_program --no-port-mapping --port "$port"
splash=$(wait_for_splash) || exit 1

record 0
check "a start given an address while the running copy shows its splash ends at once" hand_over 0
past_the_splash "$splash"
check "the running copy dials that address once its board is open" dialled 0

record 1
check "a start given an address while the running copy plays ends at once" hand_over 1
check "the running copy dials that address" dialled 1
check "no second main window opened" one_main_window
check "the running copy still runs" still_runs
finish

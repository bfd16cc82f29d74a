#!/usr/bin/env bash
# Runs the real program with --port on a virtual X display and checks that, once the splash and
# the thanks box are gone, it listens on that port and greets a plain TCP peer there with
# "18Connected". The port is a free one above 1023, so this needs no privilege.
#
# usage: port_option_check.sh PROGRAM
# Exits 77 (skipped) where there is no virtual display or no free port.
set -uo pipefail

program=$1

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

command -v Xvfb >/dev/null || skip "Xvfb is not installed"
command -v xdotool >/dev/null || skip "xdotool is not installed"

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=""
for _ in $(seq 20); do
    candidate=$((20000 + RANDOM % 40000))
    listening "$candidate" || { port=$candidate; break; }
done
[[ -n $port ]] || skip "found no free port"

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    [[ -n ${KEEP_WORK:-} ]] || rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number itself and writes it to the pipe.
Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp 5>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=("$!")
for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || fail "the virtual display did not start"
DISPLAY=:$(head -n 1 "$work/display")
export DISPLAY
for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
xdotool getdisplaygeometry >/dev/null 2>&1 || fail "the virtual display does not answer"

wait_for_window() {
    local title=$1 id=""
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1)
        [[ -n $id ]] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

QT_QPA_PLATFORM=xcb "$program" --port "$port" >"$work/program.log" 2>&1 &
app=$!
pids+=("$app")

splash=""
for _ in $(seq 100); do
    for id in $(xdotool search --onlyvisible --classname skarnet 2>/dev/null); do
        [[ $(xdotool getwindowgeometry "$id" 2>/dev/null) == *"Geometry: 472x352"* ]] && splash=$id
    done
    [[ -n $splash ]] && break
    kill -0 "$app" 2>/dev/null || fail "the program ended: $(cat "$work/program.log")"
    sleep 0.1
done
[[ -n $splash ]] || fail "the splash did not appear"
xdotool mousemove --window "$splash" 236 176 click 1
box=$(wait_for_window Thanks) || fail "the thanks box did not appear after a click on the splash"
xdotool windowfocus --sync "$box" key Return
wait_for_window Skarnet >/dev/null || fail "the main window did not appear"

connected=0
for _ in $(seq 50); do
    if exec 3<>"/dev/tcp/127.0.0.1/$port"; then connected=1; break; fi 2>/dev/null
    sleep 0.1
done
((connected)) || fail "nothing listens on port $port after the thanks box"
timeout 1 cat <&3 >"$work/greeting"
exec 3<&-
greeting=$(cat "$work/greeting")
[[ $greeting == "18Connected" ]] || fail "greeted on port $port with '$greeting'"
echo "port option check passed (port $port)"

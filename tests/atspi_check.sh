#!/usr/bin/env bash
# Runs the real program on a virtual X display with its accessibility bridge on, and reads it
# from outside through the accessibility bus (AT-SPI), as a screen reader does: the splash and
# then the whole board are listed by name and role, and the connections and coin windows are
# opened and used through their buttons' actions (atspi_tree.py does the reading).
#
# usage: atspi_check.sh PROGRAM
# Runs in a D-Bus session of its own. Exits 77 (skipped) where a tool it needs is missing.
set -uo pipefail

program=$1
here=$(cd "$(dirname "$0")" && pwd)
python=/usr/bin/python3

skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; exit 1; }

command -v Xvfb >/dev/null || skip "Xvfb is not installed"
command -v xdotool >/dev/null || skip "xdotool is not installed"
command -v dbus-run-session >/dev/null || skip "dbus-run-session is not installed (dbus-daemon)"
[[ -x /usr/libexec/at-spi-bus-launcher ]] ||
    skip "the accessibility bus is not installed (at-spi2-core)"
"$python" -c 'import gi; gi.require_version("Atspi", "2.0"); from gi.repository import Atspi' \
    2>/dev/null || skip "python3 cannot read the accessibility bus (python3-gi, gir1.2-atspi-2.0)"

# A private session bus; the accessibility bus starts on it when first asked for, and both end
# with the session.
if [[ -z ${SKARNET_ATSPI_SESSION:-} ]]; then
    exec dbus-run-session -- env SKARNET_ATSPI_SESSION=1 "$0" "$@"
fi

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
pids+=($!)
for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
[[ -s $work/display ]] || fail "the virtual display did not start"
export DISPLAY=:$(head -n 1 "$work/display")
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

QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_QPA_PLATFORM=xcb "$program" >"$work/program.log" 2>&1 &
app=$!
pids+=($app)

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
timeout 30 "$python" "$here/atspi_tree.py" splash || fail "the splash, read through AT-SPI"

xdotool mousemove --window "$splash" 236 176 click 1
box=$(wait_for_window Thanks) || fail "the thanks box did not appear after a click on the splash"
xdotool windowfocus --sync "$box" key Return
wait_for_window Skarnet >/dev/null || fail "the main window did not appear"

timeout 40 "$python" "$here/atspi_tree.py" board || fail "the board, read through AT-SPI"
echo "AT-SPI check passed"

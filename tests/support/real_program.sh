# shellcheck shell=bash
# Shared by the checks that run the real program on a virtual X display: sourced, not run.
#
#   skip/fail MESSAGE       end the check as skipped (77) or failed (1)
#   start_display [WxH]     a private Xvfb on a free display number (1280x1024 unless given),
#                           exported as DISPLAY
#   start_program ARGS...   the program ($program) on it; its process id in $app, its output
#                           in $work/$program_log.log ("program" unless set)
#   wait_for_splash [any]   prints the splash's window id (472 x 352, untitled; of any size
#                           with "any", for a program drawn smaller to fit its screen)
#   wait_for_window TITLE   prints the first shown window with exactly that title
#   past_the_splash SPLASH  clicks the splash, answers the thanks box, waits for the board
#   free_port               prints a TCP port above 1023 that nothing listens on
#
# $work is a fresh folder removed at exit (kept with KEEP_WORK=1); processes started with
# start_display and start_program, or added to $pids, are stopped at exit.

# On standard error, so that a failure inside $(...) is still seen.
skip() { echo "SKIP: $*" >&2; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }

command -v Xvfb >/dev/null || skip "Xvfb is not installed"
command -v xdotool >/dev/null || skip "xdotool is not installed"

work=$(mktemp -d)
# The program's recovery copy and remembered choices stay in the check's own folder: a check
# that ends the program abruptly must not leave a question for the next one.
export XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    [[ -n ${KEEP_WORK:-} ]] || rm -rf "$work"
}
trap cleanup EXIT

start_display() {
    # Xvfb picks a free display number itself and writes it to the pipe. Without -noreset it
    # resets whenever its last client leaves (the readiness probe below), and a program that
    # connects during that reset is refused.
    Xvfb -displayfd 5 -screen 0 "${1:-1280x1024}x24" -nolisten tcp -noreset 5>"$work/display" \
        >"$work/xvfb.log" 2>&1 &
    pids+=("$!")
    for _ in $(seq 50); do [[ -s $work/display ]] && break; sleep 0.1; done
    [[ -s $work/display ]] || fail "the virtual display did not start"
    DISPLAY=:$(head -n 1 "$work/display")
    export DISPLAY
    for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done
    xdotool getdisplaygeometry >/dev/null 2>&1 || fail "the virtual display does not answer"
}

start_program() {
    QT_QPA_PLATFORM=xcb "$program" "$@" >"$work/${program_log:-program}.log" 2>&1 &
    app=$!
    pids+=("$app")
}

wait_for_window() {
    local title=$1 id=""
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null | head -n 1)
        [[ -n $id ]] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

wait_for_splash() {
    local id
    for _ in $(seq 100); do
        for id in $(xdotool search --onlyvisible --classname skarnet 2>/dev/null); do
            if [[ ${1:-} == any ||
                $(xdotool getwindowgeometry "$id" 2>/dev/null) == *"Geometry: 472x352"* ]]; then
                echo "$id"
                return 0
            fi
        done
        kill -0 "$app" 2>/dev/null ||
            fail "the program ended: $(cat "$work/${program_log:-program}.log")"
        sleep 0.1
    done
    fail "the splash did not appear"
}

past_the_splash() {
    local box
    xdotool mousemove --window "$1" 236 176 click 1
    box=$(wait_for_window Thanks) || fail "the thanks box did not appear after a click on the splash"
    xdotool windowfocus --sync "$box" key Return
    wait_for_window Skarnet >/dev/null || fail "the main window did not appear"
}

free_port() {
    local port
    for _ in $(seq 20); do
        port=$((20000 + RANDOM % 40000))
        (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return 0; }
    done
    skip "found no free port"
}

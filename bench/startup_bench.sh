#!/usr/bin/env bash
# Start-up time and peak memory of the program on its own virtual display, each against a
# minimal Qt Widgets program that opens one window of the splash's size.
#
#   1. Launch to splash on screen: from starting PROGRAM to its 472 x 352 splash being mapped,
#      against starting MINIMAL_WINDOW to its window being mapped (the baseline).
#   2. Click to main window on screen: from a click on the splash to the "Thanks" box being
#      mapped, plus from the Return key on that box to the 1018 x 714 main window being mapped
#      (the time the box waits for the key is left out); against the same baseline.
#   Both are also reported up to the first drawing into each window ("drawn"): Qt maps a window
#   first and draws it once the server reports it exposed, so fonts that are first needed for
#   the window's text are loaded between the two.
#   3. Peak resident memory (VmHWM) once the main window is up and the program is idle, against
#      the minimal program's once its window is up; and again after a long chat: a plain TCP
#      client on port 123 switches the link to NUL-ended frames and sends CHAT_MESSAGES chat
#      lines (10000 unless set), then closes; once the program has read them all and dropped the
#      link, and is idle again, its VmHWM is read once more.
#
# The windows are timed by window_timer (bench/tools), which starts the programs itself and reads
# the X server's map events, so both ends of every interval come from one monotonic clock. Each
# of RUNS runs (10 unless given) measures both programs back to back, after one uncounted run
# that warms the file cache. The figures are medians over the runs, and each ratio the median of
# the runs' own ratios, so that load from elsewhere weighs on both sides of a ratio alike.
# Targets: both start-up figures (mapped) at most 1.5 x the baseline; peak memory after start-up
# at most the baseline plus 20 MiB.
#
# usage: startup_bench.sh PROGRAM MINIMAL_WINDOW [RUNS]
# Prints its figures as result lines (bench/BenchReport.h). WINDOW_TIMER names the timing tool
# (default: beside MINIMAL_WINDOW); KEEP_WORK=1 keeps the logs. The chat needs port 123: it is
# skipped, with a note, when this user may not listen there or something else does. Exits 0
# whether or not targets are met; 1 when no run could be measured; 2 on bad use; 77 without Xvfb
# or xdotool.
set -uo pipefail

usage() {
    echo "usage: $0 PROGRAM MINIMAL_WINDOW [RUNS]" >&2
    exit 2
}

(($# == 2 || $# == 3)) || usage
program=$1
minimal=$2
runs=${3:-10}
[[ $runs =~ ^[1-9][0-9]*$ ]] || usage
timer=${WINDOW_TIMER:-$(dirname "$minimal")/window_timer}
chat_messages=${CHAT_MESSAGES:-10000}
[[ $chat_messages =~ ^[1-9][0-9]*$ ]] || usage
port=123

for file in "$program" "$minimal" "$timer"; do
    [[ -x $file ]] || { echo "not an executable: $file" >&2; exit 2; }
done

# Splash, thanks box and main window as the program shows them; the baseline's window.
splash_size=472x352
main_size=1018x714
main_title=Skarnet
box_title=Thanks

# skip, fail, start_display, and $work with its clean-up at exit.
# shellcheck source=SCRIPTDIR/../tests/support/real_program.sh
source "$(dirname "$0")/../tests/support/real_program.sh"
live_pids=() # the timing tool that is the parent of a running program, and the program
# shellcheck disable=SC2317 # runs from the exit trap
stop_live() {
    for pid in "${live_pids[@]}"; do kill "$pid" 2>/dev/null; done
    cleanup
}
trap stop_live EXIT
trap 'exit 130' INT TERM HUP
start_display 1024x768
export QT_QPA_PLATFORM=xcb
# Qt looks for the desktop's session bus as a window is shown. Without one, the bus library
# tries to start one, searching PATH for dbus-launch, which adds some 10 ms of process starts to
# every first drawing; a desktop answers at once. An address where nothing listens fails just as
# fast, so both programs are timed as on a desktop.
[[ -n ${DBUS_SESSION_BUS_ADDRESS:-} ]] || export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-session-bus

note() { echo "note: $*" >&2; }

# --- helpers -------------------------------------------------------------------------------

now_ms() {
    local t=${EPOCHREALTIME/[,.]/}
    echo $((t / 1000))
}

# cpu_ticks PID: user plus system time the process has used, in clock ticks.
cpu_ticks() {
    local stat
    read -r stat <"/proc/$1/stat" 2>/dev/null || return 1
    stat=${stat##*) }
    # shellcheck disable=SC2086 # the fields are split on purpose
    set -- $stat
    echo $((${12} + ${13}))
}

# wait_idle PID: waits (at most 10 s) until the process has used no processor time for 0.3 s,
# so that each step starts once the previous one has finished painting.
wait_idle() {
    local pid=$1 last now quiet=0 deadline=$(($(now_ms) + 10000))
    last=$(cpu_ticks "$pid") || return 1
    while (($(now_ms) < deadline)); do
        sleep 0.03
        now=$(cpu_ticks "$pid") || return 1
        if ((now == last)); then
            ((++quiet >= 10)) && return 0
        else
            quiet=0
            last=$now
        fi
    done
    note "process $pid did not become idle within 10 s"
    return 1
}

# peak_kib PID: the process's peak resident set size so far, in KiB.
peak_kib() {
    awk '/^VmHWM:/ {print $2}' "/proc/$1/status" 2>/dev/null
}

tool_pid=""
app_pid=""
app_window=""
launch_ms=""
launch_drawn_ms=""
# launch NAME SIZE PROGRAM: starts PROGRAM through the timing tool and waits (bounded) for the
# report of its first window of SIZE; sets tool_pid, app_pid, app_window, launch_ms (to the
# window mapped) and launch_drawn_ms (to its first drawing, "-" when none was seen).
launch() {
    local name=$1 size=$2 executable=$3 report=$work/$1.launch line=""
    : >"$report"
    "$timer" --timeout 20 launch --size "$size" -- "$executable" >"$report" 2>>"$work/$name.log" &
    tool_pid=$!
    live_pids+=("$tool_pid")
    app_pid=""
    for _ in $(seq 1250); do
        read -r line <"$report"
        [[ -n $line ]] && break
        kill -0 "$tool_pid" 2>/dev/null || break
        sleep 0.02
    done
    read -r line <"$report"
    # shellcheck disable=SC2034 # the words between the values are labels
    read -r _ app_pid _ app_window _ launch_ms _ launch_drawn_ms <<<"$line"
    if [[ -z $app_pid || -z $launch_ms ]]; then
        note "$name: no $size window appeared (see $name.log)"
        stop_app 0
        return 1
    fi
    live_pids+=("$app_pid")
    return 0
}

# stop_app WINDOW: asks the window to close (unless WINDOW is 0), then waits up to 10 s for the
# program to end before killing it; reaps the timing tool.
stop_app() {
    local window=$1
    [[ $window != 0 && -n $window ]] && "$timer" close "$window" 2>>"$work/close.log"
    for _ in $(seq 500); do
        kill -0 "$tool_pid" 2>/dev/null || break
        sleep 0.02
    done
    if kill -0 "$tool_pid" 2>/dev/null; then
        note "the program did not end after its window was closed; killing it"
        kill "$tool_pid" 2>/dev/null
        sleep 0.5
        [[ -n $app_pid ]] && kill -KILL "$app_pid" 2>/dev/null
    fi
    wait "$tool_pid" 2>/dev/null
    live_pids=()
}

# timed_step ...: runs the timing tool for one click or key and prints "WINDOW MAPPED_MS DRAWN_MS".
timed_step() {
    local line window ms drawn
    line=$("$timer" --timeout 10 "$@" 2>>"$work/steps.log") || return 1
    # shellcheck disable=SC2034
    read -r _ window _ ms _ drawn <<<"$line"
    echo "$window $ms $drawn"
}

# connections_on_port: established or closing TCP connections that have port 123 at one end.
connections_on_port() {
    ss -Htn state connected exclude time-wait "( sport = :$port or dport = :$port )" | wc -l
}

chat_note=""
if ((EUID != 0)) && (($(cat /proc/sys/net/ipv4/ip_unprivileged_port_start 2>/dev/null || echo 1024) > port)); then
    chat_note="skipped: port $port needs root or a lower net.ipv4.ip_unprivileged_port_start"
elif (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null; then
    chat_note="skipped: something else already listens on port $port"
fi

# The chat: CHAT_MESSAGES lines of about 40 characters, each "17" + "name: line" + NUL.
printf "17Ada: chat line %05d of the long benchmark talk\\0" $(seq "$chat_messages") >"$work/chat.bin"
printf '\0%s\0' 20skarnet/3 >"$work/greeting_reply.expected"

chat_ms=""
chat_fd=""
# long_chat PID: plays the peer of the long chat; sets chat_ms to the time from the first byte
# sent to the program having read everything and dropped the link.
long_chat() {
    local pid=$1 start deadline
    chat_ms=""
    for _ in $(seq 50); do
        # The braces keep the silenced errors from silencing the rest of the script.
        { exec {chat_fd}<>"/dev/tcp/127.0.0.1/$port"; } 2>/dev/null && break
        chat_fd=""
        sleep 0.1
    done
    [[ -n $chat_fd ]] || { note "nothing listens on port $port after the thanks box"; return 1; }
    # The accepting side greets in plain form; a greeting from us switches it to frames, and it
    # answers with a NUL and its own greeting.
    timeout 5 dd bs=1 count=11 status=none <&"$chat_fd" >"$work/greeting"
    if [[ $(cat "$work/greeting") != 18Connected ]]; then
        note "the program greeted with '$(cat "$work/greeting")'"
        exec {chat_fd}>&-
        chat_fd=""
        return 1
    fi
    printf '20skarnet/1\0' >&"$chat_fd"
    timeout 5 dd bs=1 count=13 status=none <&"$chat_fd" >"$work/greeting_reply"
    if ! cmp -s "$work/greeting_reply" "$work/greeting_reply.expected"; then
        note "the program did not answer the greeting with frames; the chat is not measured"
        exec {chat_fd}>&-
        chat_fd=""
        return 1
    fi
    start=$(now_ms)
    timeout 60 cat "$work/chat.bin" >&"$chat_fd" || note "sending the chat did not finish in 60 s"
    # Closing our end (nothing of the program's is left unread) makes the program read the rest,
    # apply it, see the end of the stream and drop the link: the connection then disappears.
    exec {chat_fd}>&-
    chat_fd=""
    deadline=$((start + 120000))
    while (($(connections_on_port) > 0)); do
        (($(now_ms) < deadline)) || { note "the program did not finish reading the chat"; return 1; }
        sleep 0.01
    done
    chat_ms=$(($(now_ms) - start))
    kill -0 "$pid" 2>/dev/null || { note "the program ended during the chat"; return 1; }
    return 0
}

# --- one run -------------------------------------------------------------------------------

# Per run: launch to window mapped and drawn, for the baseline and the splash; click to box and
# Return to main window, mapped and drawn; peak memory of both; the chat's time and memory.
declare -a base_ms=() base_drawn=() splash_ms=() splash_drawn=() box_ms=() main_ms=()
declare -a open_ms=() open_drawn=() base_kib=() start_kib=() chat_kib=() chat_time_ms=()

# sum A B: A + B, or "-" when either is "-" (no drawing seen).
sum() { if [[ $1 == - || $2 == - ]]; then echo -; else awk "BEGIN {printf \"%.3f\", $1 + $2}"; fi; }

# run_once COUNTED: measures both programs once; the figures are kept when COUNTED is 1.
run_once() {
    local counted=$1 line
    local minimal_ms minimal_drawn minimal_kib splash splash_d splash_window
    local box_window box box_d main_window main main_d kib

    launch minimal "$splash_size" "$minimal" || return 1
    minimal_ms=$launch_ms
    minimal_drawn=$launch_drawn_ms
    wait_idle "$app_pid"
    minimal_kib=$(peak_kib "$app_pid")
    stop_app "$app_window"

    launch program "$splash_size" "$program" || return 1
    splash=$launch_ms
    splash_d=$launch_drawn_ms
    splash_window=$app_window
    wait_idle "$app_pid"
    # The click lands in the middle of the splash.
    line=$(timed_step click "$splash_window" 236 176 --title "$box_title") || {
        note "no '$box_title' box after the click on the splash"
        stop_app 0
        return 1
    }
    read -r box_window box box_d <<<"$line"
    # The box waits for its key untimed: focused as a window manager would, once drawn.
    wait_idle "$app_pid"
    xdotool windowfocus --sync "$box_window"
    wait_idle "$app_pid"
    line=$(timed_step key "$box_window" Return --title "$main_title" --size "$main_size") || {
        note "no $main_size '$main_title' window after Return on the '$box_title' box"
        stop_app 0
        return 1
    }
    read -r main_window main main_d <<<"$line"
    wait_idle "$app_pid"
    kib=$(peak_kib "$app_pid")

    if ((counted)); then
        base_ms+=("$minimal_ms")
        base_drawn+=("$minimal_drawn")
        base_kib+=("$minimal_kib")
        splash_ms+=("$splash")
        splash_drawn+=("$splash_d")
        box_ms+=("$box")
        main_ms+=("$main")
        open_ms+=("$(sum "$box" "$main")")
        open_drawn+=("$(sum "$box_d" "$main_d")")
        start_kib+=("$kib")
        if [[ -z $chat_note ]] && long_chat "$app_pid"; then
            wait_idle "$app_pid"
            chat_kib+=("$(peak_kib "$app_pid")")
            chat_time_ms+=("$chat_ms")
        fi
    fi
    stop_app "$main_window"
    return 0
}

# --- figures -------------------------------------------------------------------------------

# median VALUE...: the median of the values, "-" ones (nothing seen) left out; empty for none.
median() {
    printf '%s\n' "$@" | grep -v '^-$' | sort -g | awk '{v[NR] = $1}
        END {if (NR == 0) exit; if (NR % 2) printf "%.3f", v[(NR + 1) / 2];
             else printf "%.3f", (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}

# calc FORMAT EXPRESSION: the expression worked out by awk, printed with FORMAT.
calc() { awk "BEGIN {printf \"$1\", $2}"; }
# ratio_of NUMERATORS DENOMINATORS: the median of the runs' ratios of two arrays (by name),
# leaving out runs where either is "-"; "n/a" when none is left.
ratio_of() {
    local -n top=$1 bottom=$2
    local i ratios=() m
    for i in "${!top[@]}"; do
        [[ ${top[i]} == - || ${bottom[i]:--} == - ]] && continue
        ratios+=("$(calc %.4f "${top[i]} / ${bottom[i]}")")
    done
    m=$(median "${ratios[@]}")
    [[ -n $m ]] && calc %.2f "$m" || echo n/a
}
yes_no() { awk "BEGIN {exit !($1)}" && echo yes || echo no; }

load_before=$(cut -d' ' -f1 /proc/loadavg)
echo "startup benchmark: $program against $minimal on $DISPLAY, $runs runs (+1 warm-up)"
[[ -n $chat_note ]] && echo "long chat: $chat_note"
run_once 0 || note "the warm-up run failed"
for ((run = 1; run <= runs; ++run)); do
    run_once 1 || note "run $run failed"
done

measured=${#splash_ms[@]}
if ((measured == 0)); then
    echo "no run could be measured; logs in $work" >&2
    KEEP_WORK=1
    exit 1
fi

m_base=$(median "${base_ms[@]}")
m_splash=$(median "${splash_ms[@]}")
m_box=$(median "${box_ms[@]}")
m_main=$(median "${main_ms[@]}")
m_open=$(median "${open_ms[@]}")
# Ratios are the medians of each run's own ratio: the two programs run back to back, so a load
# that comes and goes on the machine weighs on both sides of each ratio alike.
splash_ratio=$(ratio_of splash_ms base_ms)
open_ratio=$(ratio_of open_ms base_ms)
splash_met=$(yes_no "$splash_ratio <= 1.5")
open_met=$(yes_no "$open_ratio <= 1.5")

# The same intervals up to the first drawing into each window, where it could be seen.
m_base_d=$(median "${base_drawn[@]}")
m_splash_d=$(median "${splash_drawn[@]}")
m_open_d=$(median "${open_drawn[@]}")
splash_ratio_d=$(ratio_of splash_drawn base_drawn)
open_ratio_d=$(ratio_of open_drawn base_drawn)

m_base_mib=$(calc %.2f "$(median "${base_kib[@]}") / 1024")
m_start_mib=$(calc %.2f "$(median "${start_kib[@]}") / 1024")

# result BENCHMARK FIGURE VALUE UNIT BASELINE RATIO TARGET MET: one result line.
result() {
    local IFS=$'\t'
    echo "RESULT$IFS$*"
}
result startup "launch to splash mapped" "$m_splash" ms "$m_base" "$splash_ratio" \
    "≤ 1.5x baseline" "$splash_met"
result startup "click on splash to main window mapped" "$m_open" ms "$m_base" "$open_ratio" \
    "≤ 1.5x baseline" "$open_met"
if [[ -n $m_base_d ]]; then
    result startup "launch to splash drawn" "$m_splash_d" ms "$m_base_d" "$splash_ratio_d" reported ""
    result startup "click on splash to main window drawn" "$m_open_d" ms "$m_base_d" \
        "$open_ratio_d" reported ""
else
    echo "NOTE"$'\t'"first drawings could not be seen: the package libxdamage1 is missing"
fi
result memory "peak RSS after start-up" "$m_start_mib" MiB "$m_base_mib" \
    "$(calc %.2f "$m_start_mib / $m_base_mib")" "≤ baseline + 20 MiB" \
    "$(yes_no "$m_start_mib <= $m_base_mib + 20")"
chat_figure="peak RSS after a chat of $chat_messages lines"
if ((${#chat_kib[@]})); then
    m_chat_mib=$(calc %.2f "$(median "${chat_kib[@]}") / 1024")
    result memory "$chat_figure" "$m_chat_mib" MiB "$m_start_mib MiB (after start-up)" \
        "$(calc %.2f "$m_chat_mib / $m_start_mib")" \
        "reported ($(calc %.1f "$m_chat_mib - $m_start_mib") MiB over start-up)" ""
    chat_note="sent, read and applied in $(calc %.0f "$(median "${chat_time_ms[@]}")") ms"
else
    chat_note=${chat_note:-"not measured: the chat did not complete in any run"}
    result memory "$chat_figure" "$chat_note" "" "" "" reported ""
fi
echo "Medians of $measured runs; click to thanks box mapped $(calc %.1f "$m_box") ms, Return to main"
echo "window mapped $(calc %.1f "$m_main") ms; long chat $chat_note. Load average $load_before before,"
echo "$(cut -d' ' -f1 /proc/loadavg) after, on $(nproc) processors."
exit 0

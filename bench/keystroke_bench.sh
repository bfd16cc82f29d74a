#!/usr/bin/env bash
# Keystroke to the other screen: how long a key typed into one copy of the program takes to be
# drawn by the other copy. Two real processes, each on its own virtual X display, linked over
# loopback; against a minimal pair of Qt programs measured the same way at the same time.
#
# Copy A dials copy B through its windows, as a player does ("Connections Window", "Connect to
# IP", the address). Each key is pressed on A's display through XTEST and timed by
# keystroke_timer (bench/tools) until B's window draws into the rectangle, taken from the board's
# fixed layout, of the opponent display that shows the zone.
#
#   1. Single keys in "Your Monster Card Zone 3", drawn on B in "Opponent's Monster Card Zone 3":
#      "dragon" typed and erased again, each key alone (pressed once the previous key's drawing
#      is over and 100 to 150 ms have passed).
#   2. Single keys in your life points, drawn on B as the opponent's life points: "8000" erased
#      and "7500" typed, then back.
#   3. Bursts of 10 keys 30 ms apart, a fast typist's pace, in the same monster zone: "dragon 240"
#      typed, then erased; each key is timed to the first drawing after it.
#
# The baseline is minimal_link: a line edit on A that sends its whole text over TCP (with
# TCP_NODELAY) at every change, and a label on B that shows what arrives, with the same keys;
# its single keys are the baseline of both 1 and 2. Both pairs run side by side, the minimal
# windows right of the program's, and are measured in turn over ROUNDS rounds, so that load from
# elsewhere on the machine weighs on both alike. A few keys into each editor first warm up
# fonts and caches and show that the link carries edits; they are not counted.
#
# The two copies link as any two copies do: over TLS, each with the identity it made in its fresh
# data folder (encrypted, not verified, as a bare address links them).
#
# Targets, per figure: median at most 1.10 x the baseline's, 99th percentile at most 1.5 x, and
# no key slower than 33 ms (two frames at 60 Hz). A key never drawn (within 1 s) misses all
# three.
#
# usage: keystroke_bench.sh PROGRAM MINIMAL_LINK
# Prints its figures as result lines (bench/BenchReport.h). SINGLE_KEYS (200) keys per single-key
# figure, BURSTS (20) bursts, ROUNDS (8). KEYSTROKE_TIMER and WINDOW_TIMER name the tools
# (default: beside MINIMAL_LINK); KEEP_WORK=1 keeps the logs and the raw timings. Exits 0
# whether or not targets are met; 1 when the copies could not be linked; 2 on bad use; 77
# without Xvfb or xdotool.
# shellcheck disable=SC2034 # the key cycles are read through their names
set -uo pipefail

usage() {
    echo "usage: $0 PROGRAM MINIMAL_LINK" >&2
    exit 2
}

(($# == 2)) || usage
program=$1
minimal=$2
timer=${KEYSTROKE_TIMER:-$(dirname "$minimal")/keystroke_timer}
window_timer=${WINDOW_TIMER:-$(dirname "$minimal")/window_timer}
single_keys=${SINGLE_KEYS:-200}
bursts=${BURSTS:-20}
rounds=${ROUNDS:-8}
for count in "$single_keys" "$bursts" "$rounds"; do
    [[ $count =~ ^[1-9][0-9]*$ ]] || usage
done
for file in "$program" "$minimal" "$timer" "$window_timer"; do
    [[ -x $file ]] || { echo "not an executable: $file" >&2; exit 2; }
done
command -v ss >/dev/null || { echo "ss (package iproute2) is needed to find free ports" >&2; exit 2; }

# skip, fail, start_display, start_program, wait_for_splash, wait_for_window, past_the_splash,
# and $work with its clean-up at exit.
# shellcheck source=SCRIPTDIR/../tests/support/real_program.sh
source "$(dirname "$0")/../tests/support/real_program.sh"
export XDG_RUNTIME_DIR=$work
# Qt looks for the desktop's session bus as a window is shown; an address where nothing listens
# fails at once, as on a desktop, instead of starting a bus (see startup_bench.sh).
[[ -n ${DBUS_SESSION_BUS_ADDRESS:-} ]] || export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/no-session-bus

# --- the boards' fixed layout --------------------------------------------------------------

# Control rectangles inside their window (left top width height); there is no window manager, so
# a window's position is its client area's.
declare -A area=(
    [cmdConnections]="8 664 113 41"
    [txtP1Monster3]="392 368 113 129" # Your Monster Card Zone 3
    [lblP2Monster3]="392 216 113 129" # Opponent's Monster Card Zone 3
    [txtP1LP]="832 664 57 19"         # your life points
    [lblP2LP]="88 16 41 17"           # the opponent's life points
    [cmdConnect]="112 8 97 65"        # in the connections window: "Connect to IP"
)
# The minimal pair's windows: right of the program's 1018 x 714 main window, on both screens.
sender_geometry=230x24+1040+0
receiver_geometry=113x129+1040+0

# as_geometry CONTROL: the control's rectangle as X geometry, WIDTHxHEIGHT+LEFT+TOP.
as_geometry() {
    local x y w h
    read -r x y w h <<<"${area[$1]}"
    echo "${w}x$h+$x+$y"
}

# click_control WINDOW CONTROL: clicks the middle of a control, on $DISPLAY.
click_control() {
    local x y w h
    read -r x y w h <<<"${area[$2]}"
    xdotool mousemove --window "$1" $((x + w / 2)) $((y + h / 2)) click 1
}

# --- two displays, two copies, one link ----------------------------------------------------

# free_port: a TCP port nothing listens on, not handed out before.
taken_ports=" "
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 40000))
        [[ $taken_ports == *" $port "* ]] && continue
        [[ -z $(ss -Htln "sport = :$port") ]] || continue
        taken_ports+="$port "
        echo "$port"
        return
    done
}

start_display
display_a=$DISPLAY
start_display
display_b=$DISPLAY
port_a=$(free_port)
port_b=$(free_port)
port_minimal=$(free_port)

declare -A main=()
# start_copy SEAT DISPLAY PORT: a copy with its own fresh data folders, past the splash and the
# thanks box; its main window in main[SEAT].
start_copy() {
    local seat=$1 splash
    export DISPLAY=$2
    program_log=copy_$seat
    XDG_DATA_HOME=$work/$seat/data XDG_CONFIG_HOME=$work/$seat/config \
        start_program --port "$3" --no-port-mapping
    splash=$(wait_for_splash) || exit 1
    past_the_splash "$splash"
    main[$seat]=$(wait_for_window Skarnet) || fail "copy $seat has no main window"
}

echo "keystroke benchmark: $program against $minimal; copy A types on $display_a, B draws on $display_b"
start_copy a "$display_a" "$port_a"
start_copy b "$display_b" "$port_b"

# A dials B as a player does, then closes its connections window, which lies over the board.
DISPLAY=$display_a
click_control "${main[a]}" cmdConnections
connections=$(wait_for_window Connections) || fail "no connections window on A"
click_control "$connections" cmdConnect
box=$(wait_for_window Connect) || fail "\"Connect to IP\" asked for no address"
xdotool windowfocus --sync "$box" key ctrl+a type "127.0.0.1:$port_b"
xdotool key Return
"$window_timer" close "$connections"

export DISPLAY=$display_b
"$minimal" receive "$port_minimal" -geometry "$receiver_geometry" >"$work/minimal_receiver.log" 2>&1 &
pids+=("$!")
receiver=$(wait_for_window 'Minimal receiver') || fail "no minimal receiver"
export DISPLAY=$display_a
"$minimal" send "$port_minimal" -geometry "$sender_geometry" >"$work/minimal_sender.log" 2>&1 &
pids+=("$!")
sender=$(wait_for_window 'Minimal sender') || fail "no minimal sender"

# --- keys and where they are timed ---------------------------------------------------------

# What each target types, over and over: every key changes the text, and each cycle leaves it
# as it found it.
monster_cycle=(d r a g o n BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace)
life_points_cycle=(BackSpace BackSpace BackSpace BackSpace 7 5 0 0
    BackSpace BackSpace BackSpace BackSpace 8 0 0 0)
typed_burst=(d r a g o n space 2 4 0)
erasing_burst=(BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace
    BackSpace BackSpace)

# The targets: the window that takes the keys on A (and the control in it), the window on B that
# draws them and the rectangle watched there.
declare -A typed_window=([minimal]=$sender [monster]=${main[a]} [life_points]=${main[a]})
declare -A typed_control=([minimal]="" [monster]=txtP1Monster3 [life_points]=txtP1LP)
# The key that puts the caret at the end of the text: a zone's text may wrap onto more lines.
declare -A end_key=([minimal]=End [monster]=ctrl+End [life_points]=End)
declare -A drawing_window=([minimal]=$receiver [monster]=${main[b]} [life_points]=${main[b]})
declare -A drawn_area=([minimal]=${receiver_geometry%%+*}+0+0
    [monster]=$(as_geometry lblP2Monster3) [life_points]=$(as_geometry lblP2LP))
# Where each cycle has got to, per target, so that rounds carry on where the last one stopped.
declare -A cycle_at=([minimal]=0 [monster]=0 [life_points]=0)
declare -A burst_at=([minimal]=0 [monster]=0)

# focus TARGET: gives the target's editor the keyboard, with the caret at the end of its text,
# and lets the click's own drawing on A end before any key is timed.
focus() {
    local target=$1
    export DISPLAY=$display_a
    xdotool windowfocus --sync "${typed_window[$target]}"
    if [[ -n ${typed_control[$target]} ]]; then
        click_control "${typed_window[$target]}" "${typed_control[$target]}"
    else
        xdotool mousemove --window "$sender" 100 12 click 1
    fi
    xdotool key "${end_key[$target]}"
    sleep 0.3
}

# time_keys TARGET "OPTIONS" KEY...: one run of the timing tool on the target.
time_keys() {
    local target=$1 options=$2
    shift 2
    # shellcheck disable=SC2086 # the options are split on purpose
    "$timer" $options "$display_a" "$display_b" "${drawing_window[$target]}" \
        "${drawn_area[$target]}" "$@" 2>>"$work/timer.log"
}

# single_keys TARGET CYCLE COUNT: COUNT keys of the cycle (an array's name), each alone;
# appends the timings to $work/TARGET.single.
single_keys() {
    local target=$1 count=$3 keys=() i at
    local -n cycle=$2
    at=${cycle_at[$target]}
    for ((i = 0; i < count; i++)); do keys+=("${cycle[(at + i) % ${#cycle[@]}]}"); done
    cycle_at[$target]=$(((at + count) % ${#cycle[@]}))
    focus "$target"
    time_keys "$target" "--pause-ms 100" "${keys[@]}" >>"$work/$target.single"
}

# burst_keys TARGET COUNT: COUNT bursts, typing and erasing in turn, a second apart; appends
# the timings to $work/TARGET.burst.
burst_keys() {
    local target=$1 count=$2 i
    focus "$target"
    for ((i = 0; i < count; i++)); do
        if ((burst_at[$target] % 2 == 0)); then
            time_keys "$target" "--gap-ms 30" "${typed_burst[@]}"
        else
            time_keys "$target" "--gap-ms 30" "${erasing_burst[@]}"
        fi >>"$work/$target.burst"
        burst_at[$target]=$((burst_at[$target] + 1))
        sleep 0.3
    done
}

# warm_up TARGET CYCLE: one cycle untimed, retried while the link is still being made; fails
# when the keys are still not drawn on B after 20 tries.
warm_up() {
    local target=$1 try
    local -n warm_up_keys=$2
    focus "$target"
    for ((try = 0; try < 20; try++)); do
        time_keys "$target" "--timeout-ms 1000 --pause-ms 50" "${warm_up_keys[@]}" \
            >"$work/warm_up" &&
            ! grep -q -- ' -$' "$work/warm_up" && return 0
        sleep 0.5
    done
    return 1
}

warm_up monster monster_cycle || fail "A's zone edits are not drawn on B: the copies did not link"
warm_up life_points life_points_cycle || fail "A's life points are not drawn on B"
warm_up minimal monster_cycle || fail "the minimal sender's text is not drawn by the receiver"

# --- measuring -----------------------------------------------------------------------------

# share TOTAL ROUND: the part of TOTAL that round ROUND (0-based) of $rounds takes.
share() { echo $((($1 * ($2 + 1)) / rounds - ($1 * $2) / rounds)); }

load_before=$(cut -d' ' -f1 /proc/loadavg)
for ((round = 0; round < rounds; round++)); do
    echo "round $((round + 1)) of $rounds"
    singles=$(share "$single_keys" "$round")
    round_bursts=$(share "$bursts" "$round")
    # Every other round measures the program first, so neither side always follows the other.
    if ((round % 2 == 0)); then order=(minimal program); else order=(program minimal); fi
    for side in "${order[@]}"; do
        if [[ $side == minimal ]]; then
            single_keys minimal monster_cycle "$singles"
        else
            single_keys monster monster_cycle "$singles"
            single_keys life_points life_points_cycle "$singles"
        fi
    done
    for side in "${order[@]}"; do
        if [[ $side == minimal ]]; then burst_keys minimal "$round_bursts"; else burst_keys monster "$round_bursts"; fi
    done
done
load_after=$(cut -d' ' -f1 /proc/loadavg)

# --- figures -------------------------------------------------------------------------------

# summary NAME FILE: reads the summary of the timings in FILE into NAME_keys, NAME_not_drawn,
# NAME_overtaken, NAME_median, NAME_p99 and NAME_max.
summary() {
    local name=$1 line words key
    line=$("$timer" summarize "$2") || fail "cannot read the timings in $2"
    read -r -a words <<<"$line"
    for ((key = 0; key < ${#words[@]}; key += 2)); do
        printf -v "${name}_${words[key]}" %s "${words[key + 1]}"
    done
}
summary base_single "$work/minimal.single"
summary monster "$work/monster.single"
summary life_points "$work/life_points.single"
summary base_burst "$work/minimal.burst"
summary burst "$work/monster.burst"

# calc FORMAT EXPRESSION: the expression worked out by awk, printed with FORMAT.
calc() { awk "BEGIN {printf \"$1\", $2}"; }
finite() { [[ $1 != inf && $1 != nan ]]; }
ms() { if finite "$1"; then echo "$1"; else echo "not drawn"; fi; }
ratio() { if finite "$1" && finite "$2"; then calc %.2f "$1 / $2"; else echo n/a; fi; }
yes_no() { finite "${2:-0}" && finite "$3" && awk "BEGIN {exit !($1)}" && echo yes || echo no; }
# result BENCHMARK FIGURE VALUE UNIT BASELINE RATIO TARGET MET: one result line.
result() {
    local IFS=$'\t'
    echo "RESULT$IFS$*"
}

# figure BENCHMARK NAME BASELINE: the result lines of one figure against its baseline (by name
# prefix).
figure() {
    local benchmark=$1 name=$2 base=$3 value baseline
    local -n count=${name}_keys not_drawn=${name}_not_drawn overtaken=${name}_overtaken
    local -n base_keys=${base}_keys base_not_drawn=${base}_not_drawn
    local -n median=${name}_median p99=${name}_p99 max=${name}_max
    local -n base_median=${base}_median base_p99=${base}_p99 base_max=${base}_max
    result "$benchmark" median "$(ms "$median")" ms "$(ms "$base_median")" \
        "$(ratio "$median" "$base_median")" "≤ 1.10x minimal pair" \
        "$(yes_no "$median <= 1.10 * $base_median" "$base_median" "$median")"
    result "$benchmark" p99 "$(ms "$p99")" ms "$(ms "$base_p99")" "$(ratio "$p99" "$base_p99")" \
        "≤ 1.5x minimal pair" "$(yes_no "$p99 <= 1.5 * $base_p99" "$base_p99" "$p99")"
    result "$benchmark" max "$(ms "$max")" ms "$(ms "$base_max")" "$(ratio "$max" "$base_max")" \
        "≤ 33 ms (2 frames)" "$(yes_no "$max <= 33" 0 "$max")"
    value="$count keys, $not_drawn not drawn"
    baseline="$base_keys keys, $base_not_drawn not drawn"
    if [[ $name == burst ]]; then
        local -n base_overtaken=${base}_overtaken
        value+=", $overtaken overtaken"
        baseline+=", $base_overtaken overtaken"
    fi
    result "$benchmark" "keys timed" "$value" "" "$baseline" "" reported ""
}
figure keystroke_monster_zone monster base_single
figure keystroke_life_points life_points base_single
figure keystroke_burst_10x30ms burst base_burst
# The tails and the 33 ms ceiling depend on what else the machine runs meanwhile.
result keystroke_load "load average, before and after" \
    "$load_before, $load_after on $(nproc) processors" "" "" "" reported ""
# shellcheck disable=SC2154 # summary sets both
if ((burst_overtaken > 0 || base_burst_overtaken > 0)); then
    echo "NOTE"$'\t'"In the keystroke bursts, $burst_overtaken of the program's keys and" \
        "$base_burst_overtaken of the baseline's were drawn only after the next key."
fi
if [[ -n ${KEEP_WORK:-} ]]; then
    echo "timings and logs kept in $work"
fi
exit 0

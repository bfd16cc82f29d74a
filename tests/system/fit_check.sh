#!/usr/bin/env bash
# Runs the real program on a virtual screen with less room than the board needs, and checks
# that the board is drawn smaller to fit, uniformly, with its bottom row inside the room the
# desktop leaves, and that it still works there: a chat line typed and sent with a click on
# "Send Message" reaches a peer.
#
# usage: fit_check.sh PROGRAM PANEL_TOOL WIDTHxHEIGHT PANEL_HEIGHT [QT_SCALE_FACTOR]
#   PANEL_HEIGHT  pixels a desktop panel along the bottom edge reserves (0 for none)
#   QT_SCALE_FACTOR  the desktop's own scaling, as a player sets it (1 when left out)
# Exits 77 (skipped) where a tool it needs is missing.
set -uo pipefail

program=$1
panel_tool=$2
screen=$3
panel=$4
scale=${5:-}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/real_program.sh"
check_name="fit check at $screen${scale:+ scaled by $scale}${panel:+, panel $panel px}"
source "$here/../support/check_steps.sh"

# The board's client area at its normal size, and "Chat message" and "Send Message" on it.
board_width=1018
board_height=714
message_x=956 message_y=673
send_x=956 send_y=698

start_display "$screen"
screen_width=${screen%x*}
screen_height=${screen#*x}
if ((panel > 0)); then
    "$panel_tool" "$panel" >"$work/panel.out" 2>&1 &
    pids+=("$!")
    for _ in $(seq 50); do grep -q ready "$work/panel.out" && break; sleep 0.1; done
    grep -q ready "$work/panel.out" || fail "the panel did not start: $(cat "$work/panel.out")"
fi
port=$(free_port)
if [[ -n $scale ]]; then
    QT_SCALE_FACTOR=$scale start_program --port "$port" --no-port-mapping
else
    start_program --port "$port" --no-port-mapping
fi

# The splash is drawn smaller too.
splash=$(wait_for_splash any) || exit 1
eval "$(xdotool getwindowgeometry --shell "$splash")"
xdotool mousemove --window "$splash" $((WIDTH / 2)) $((HEIGHT / 2)) click 1
box=$(wait_for_window Thanks) || fail "the thanks box did not appear after a click on the splash"
xdotool windowfocus --sync "$box" key Return
board=$(wait_for_window Skarnet) || fail "the main window did not appear"
sleep 0.5

eval "$(xdotool getwindowgeometry --shell "$board")"
echo "board at ${X},${Y}, ${WIDTH}x${HEIGHT} on a ${screen} screen with ${panel} px of panel"
factor=$(awk -v w="$WIDTH" -v b="$board_width" 'BEGIN { printf "%.4f", w / b }')
uniform() {
    awk -v w="$WIDTH" -v h="$HEIGHT" -v bw="$board_width" -v bh="$board_height" \
        'BEGIN { d = h - w * bh / bw; exit !(d < 1.5 && d > -1.5) }'
}
check "the board is drawn smaller (factor $factor)" \
    awk -v f="$factor" -v s="${scale:-1}" 'BEGIN { exit !(f < s) }'
check "the board is not drawn below three quarters of its size" \
    awk -v f="$factor" -v s="${scale:-1}" 'BEGIN { exit !(f >= 0.75 * s - 0.01) }'
check "the board keeps its proportions" uniform
check "the bottom row lies inside the area the panel leaves (bottom edge $((Y + HEIGHT)))" \
    test $((Y + HEIGHT)) -le $((screen_height - panel))
check "the board lies inside the screen's width" test $((X + WIDTH)) -le "$screen_width"

# A bare peer links; then a chat line is typed and sent with the mouse at the smaller scale.
exec 3<>"/dev/tcp/127.0.0.1/$port" || die "could not connect to the program"
heard=""
read_peer() {
    local chunk
    while IFS= read -r -t "$1" -d '' -n 1 chunk <&3; do heard+=$chunk; done
    return 0
}
read_peer 2
check "the peer is greeted" test "$heard" = "18Connected"
at() { awk -v v="$1" -v f="$factor" 'BEGIN { printf "%d", v * f + 0.5 }'; }
xdotool mousemove --window "$board" "$(at $message_x)" "$(at $message_y)" click 1
sleep 0.3
xdotool type --delay 20 "fits"
xdotool mousemove --window "$board" "$(at $send_x)" "$(at $send_y)" click 1
read_peer 2
check "a click on \"Send Message\" sends the chat line (the peer heard '${heard#18Connected}')" \
    test "$heard" = "18Connected17: fits"
finish

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
check_name="fit check at $screen${scale:+ scaled by $scale}${panel:+, panel $panel px}"
# shellcheck source=../support/real_program.sh
source "$(dirname "$0")/../support/real_program.sh"

# The board's client area at its normal size.
board_width=1018
board_height=714

start_display "$screen"
screen_width=${screen%x*}
screen_height=${screen#*x}
if ((panel > 0)); then
    "$panel_tool" "$panel" >"$work/panel.out" 2>&1 &
    pids+=("$!")
    wait_until 5 grep -q ready "$work/panel.out" ||
        fail "the panel did not start: $(cat "$work/panel.out")"
fi
port=$(free_port)
[[ -z $scale ]] || export QT_SCALE_FACTOR=$scale
# The splash is drawn smaller too.
splash_size=any launch --port "$port" --no-port-mapping
board=$(wait_for_window Skarnet)
sleep 0.5

read -r X Y WIDTH HEIGHT < <(window_area "$board")
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
peer_on "$port" || die "could not connect to the program"
heard=""
read_peer() {
    local chunk
    while IFS= read -r -t "$1" -d '' -n 1 chunk <&3; do heard+=$chunk; done
    return 0
}
read_peer 2
check "the peer is greeted" test "$heard" = "18Connected"
click_on "$board" txtMessage "$factor"
sleep 0.3
xdotool type --delay 20 "fits"
click_on "$board" cmdSend "$factor"
read_peer 2
check "a click on \"Send Message\" sends the chat line (the peer heard '${heard#18Connected}')" \
    test "$heard" = "18Connected17: fits"
finish

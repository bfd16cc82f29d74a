#!/usr/bin/env bash
# shellcheck disable=SC2317 # the small predicates are called through check
# Runs the real program on a virtual screen with less room than the board needs, and checks
# that the board is drawn smaller to fit, uniformly, with its bottom row inside the room the
# desktop leaves, that it looks like the board at its normal size made smaller, and that it
# still works there: a chat line typed and sent with a click on "Send Message" reaches a peer.
#
# usage: fit_check.sh PROGRAM PANEL_TOOL REFERENCE [WIDTHxHEIGHT PANEL_HEIGHT [QT_SCALE_FACTOR]]
#   REFERENCE     a picture of the board at rest at its normal size; without a screen, the check
#                 makes it on a 1280 x 1024 screen, where the board fits
#   PANEL_HEIGHT  pixels a desktop panel along the bottom edge reserves (0 for none)
#   QT_SCALE_FACTOR  the desktop's own scaling, as a player sets it (1 when left out)
# Exits 77 (skipped) where a tool it needs is missing.
set -uo pipefail

program=$1
panel_tool=$2
reference=$3
screen=${4:-}
panel=${5:-0}
scale=${6:-}
check_name="fit check at $screen${scale:+ scaled by $scale}, panel $panel px"
[[ -n $screen ]] || check_name="fit check: the board at its normal size"
# shellcheck source=../support/real_program.sh
source "$(dirname "$0")/../support/real_program.sh"
for tool in import convert compare; do
    command -v $tool >/dev/null || skip "$tool (ImageMagick) is not installed"
done

# The board at rest, as the screen shows it: the focus is on "Connections Window", so no caret
# blinks in any box.
board_picture() { timeout 10 import -silent -window "$1" "$2"; }

if [[ -z $screen ]]; then
    rm -f "$reference"
    start_display
    launch --port "$(free_port)" --no-port-mapping
    board=$(wait_for_window Skarnet 1018x714) || die "the board is not drawn at its normal size"
    sleep 0.5
    require "the board at its normal size is saved as $reference" board_picture "$board" "$reference"
    finish
fi
[[ -s $reference ]] || fail "no picture of the board at its normal size in $reference"

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
# The splash fits every screen here at its normal size (times the desktop's own scaling).
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

# The board at rest against the one at its normal size resized by ImageMagick to the same size:
# the mean difference of their pixels, from 0 (the same) to 1. A board drawn right differs only
# where text and edges are drawn anew rather than resampled: 0.018 to 0.023 drawn smaller,
# 0.032 drawn larger at 150 %, where the resized one is blurred. A board cut off at the window's
# edges (contents drawn at full size in a smaller window, as Qt 6.4 does with a scale factor
# below 1) differs by 0.12 to 0.13. The threshold lies about halfway on either side.
most=0.06
board_picture "$board" "$work/board.png" || die "could not take a picture of the board"
convert "$reference" -resize "${WIDTH}x${HEIGHT}!" "$work/expected.png" ||
    die "could not resize the board at its normal size"
difference=$(compare -metric MAE "$work/board.png" "$work/expected.png" null: 2>&1 |
    sed -n 's/.*(\(.*\)).*/\1/p')
check "the board looks as at its normal size, resized (mean difference ${difference:-unknown})" \
    awk -v d="${difference:-1}" -v most="$most" 'BEGIN { exit !(d <= most) }'

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

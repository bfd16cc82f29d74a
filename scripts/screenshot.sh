#!/usr/bin/env bash
# Starts the real program on a virtual display, dismisses the start-up box and saves a
# picture of the screen: ./scripts/screenshot.sh [OUTPUT.png] (default docs/board.png).
# Needs a build in build/ and the packages xvfb, xdotool and imagemagick.
set -euo pipefail
cd "$(dirname "$0")/.."
output=${1:-docs/board.png}
display=:$((300 + RANDOM % 100))
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null' EXIT
export DISPLAY=$display
sleep 1
QT_QPA_PLATFORM=xcb build/skarnet >/dev/null 2>&1 &
app=$!
trap 'kill $app $xvfb 2>/dev/null' EXIT
for _ in $(seq 100); do
    box=$(xdotool search --onlyvisible --name '^Thanks$' 2>/dev/null | head -n 1) && [[ -n $box ]] && break
    sleep 0.1
done
xdotool windowfocus --sync "$box" key Return
sleep 1.5
import -window root -crop 1018x714+0+0 "$output"
echo "saved $output"

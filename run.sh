#!/usr/bin/env bash
# Installs what is missing, builds Skarnet and starts it.
set -euo pipefail
cd "$(dirname "$0")"

scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target skarnet

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
    echo "Skarnet is built (build/skarnet), but it needs a desktop to show its windows and no display was found; run this command again from a desktop session."
    exit 1
fi
exec build/skarnet "$@"

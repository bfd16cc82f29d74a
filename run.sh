#!/usr/bin/env bash
# Installs what is missing, builds Skarnet and starts it.
set -euo pipefail
cd "$(dirname "$0")"

scripts/deps.sh
cmake --preset run >/dev/null
cmake --build --preset run

if [[ -z ${DISPLAY:-} && -z ${WAYLAND_DISPLAY:-} ]]; then
    echo "Skarnet is built (build/skarnet), but it needs a desktop to show its windows and no display was found; run this command again from a desktop session."
    exit 1
fi
exec build/skarnet "$@"

# shellcheck shell=bash
# Shared by the checks that read the real program through the accessibility bus: sourced, not
# run, before anything else is started. Skips (77) where the bus or its reader is missing, then
# runs the sourcing check again inside a private session bus with a runtime folder of its own;
# the accessibility bus starts on it when first asked for, and both end with the session. Sets
# $python.

python=/usr/bin/python3
command -v dbus-run-session >/dev/null ||
    { echo "SKIP: dbus-run-session is not installed (dbus-daemon)"; exit 77; }
[[ -x /usr/libexec/at-spi-bus-launcher ]] ||
    { echo "SKIP: the accessibility bus is not installed (at-spi2-core)"; exit 77; }
"$python" -c 'import gi; gi.require_version("Atspi", "2.0"); from gi.repository import Atspi' \
    2>/dev/null ||
    { echo "SKIP: python3 cannot read the accessibility bus (python3-gi, gir1.2-atspi-2.0)"; exit 77; }
if [[ -z ${SKARNET_ATSPI_SESSION:-} ]]; then
    # The accessibility bus keeps its socket in the user's runtime folder, the same path for
    # every session; one of its own keeps checks that run at once from ending each other's bus.
    runtime=$(mktemp -d)
    XDG_RUNTIME_DIR=$runtime dbus-run-session -- env SKARNET_ATSPI_SESSION=1 "$0" "$@"
    status=$?
    rm -rf "$runtime"
    exit "$status"
fi

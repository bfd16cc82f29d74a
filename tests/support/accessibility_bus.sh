# shellcheck shell=bash
# Shared by the checks that read the real program through the accessibility bus (AT-SPI), as a
# screen reader does: sourced, not run, after system_check.sh (or real_program.sh). Skips (77)
# where the bus or its reader is missing.
#
#   start_session_bus [NAMESPACE]  a private session bus with a runtime folder of its own, for
#                                  everything started after it; the accessibility bus starts on
#                                  it when first asked for. In that network namespace when given
#                                  (the accessibility bus is reached through abstract sockets,
#                                  which exist per namespace), where the reader then runs too.
#   read_atspi SECONDS ARGS...     atspi_tree.py ARGS (see there), for at most SECONDS

python=/usr/bin/python3
command -v dbus-daemon >/dev/null || skip "dbus-daemon is not installed"
[[ -x /usr/libexec/at-spi-bus-launcher ]] ||
    skip "the accessibility bus is not installed (at-spi2-core)"
"$python" -c 'import gi; gi.require_version("Atspi", "2.0"); from gi.repository import Atspi' \
    2>/dev/null || skip "python3 cannot read the accessibility bus (python3-gi, gir1.2-atspi-2.0)"

bus_netns=""
start_session_bus() {
    local run=() runtime=$work/runtime
    bus_netns=${1:-}
    [[ -z $bus_netns ]] || run=(ip netns exec "$bus_netns")
    # The accessibility bus keeps its socket in the runtime folder: one of its own keeps checks
    # that run at once from ending each other's bus.
    mkdir -m 700 "$runtime"
    XDG_RUNTIME_DIR=$runtime "${run[@]}" dbus-daemon --session --nofork --print-address=3 \
        3>"$work/bus" >"$work/dbus.log" 2>&1 &
    pids+=("$!")
    wait_until 5 test -s "$work/bus" || fail "the session bus did not start"
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$work/bus")
    export DBUS_SESSION_BUS_ADDRESS XDG_RUNTIME_DIR=$runtime
    # The accessibility bus is up before the program starts, as in a desktop session. A program
    # that finds it only later, while a reader is registering what it listens for, can miss
    # some of those registrations and never send those events.
    "${run[@]}" "$python" -c 'from gi.repository import Gio
Gio.bus_get_sync(Gio.BusType.SESSION).call_sync("org.a11y.Bus", "/org/a11y/bus",
    "org.a11y.Bus", "GetAddress", None, None, 0, 5000, None)' ||
        fail "the accessibility bus did not start"
}

read_atspi() {
    local seconds=$1 run=()
    shift
    [[ -z $bus_netns ]] || run=(ip netns exec "$bus_netns")
    "${run[@]}" timeout "$seconds" "$python" "$(dirname "${BASH_SOURCE[0]}")/atspi_tree.py" "$@"
}

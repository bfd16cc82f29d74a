#!/usr/bin/env bash
# Runs the real program on a virtual X display with its accessibility bridge on, and reads it
# from outside through the accessibility bus (AT-SPI), as a screen reader does: the splash and
# then the whole board are listed by name and role, and the connections and coin windows are
# opened and used through their buttons' actions (atspi_tree.py does the reading).
#
# usage: atspi_check.sh PROGRAM
# Runs in a D-Bus session of its own. Exits 77 (skipped) where a tool it needs is missing.
set -uo pipefail

program=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/accessibility_bus.sh"
source "$here/../support/real_program.sh"

# A smaller screen (WIDTHxHEIGHT) has the program draw itself smaller to fit; a screen reader
# must find every control where it is drawn all the same.
screen=${2:-}
start_display $screen
# The machine's own router is never asked to open a port for a test.
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 start_program --no-port-mapping
splash=$(wait_for_splash ${screen:+any}) || exit 1
timeout 30 "$python" "$here/../support/atspi_tree.py" splash || fail "the splash, read through AT-SPI"

past_the_splash "$splash"

timeout 40 "$python" "$here/../support/atspi_tree.py" board || fail "the board, read through AT-SPI"
echo "AT-SPI check passed"

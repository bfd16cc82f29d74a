#!/usr/bin/env bash
# Runs the real program on a virtual X display with its accessibility bridge on, and reads it
# from outside through the accessibility bus (AT-SPI), as a screen reader does: the splash and
# then the whole board are listed by name and role, and the connections and coin windows are
# opened and used through their buttons' actions (atspi_tree.py does the reading).
#
# usage: atspi_check.sh PROGRAM [WIDTHxHEIGHT]
# Runs on a D-Bus session bus of its own. Exits 77 (skipped) where a tool it needs is missing.
set -uo pipefail

program=$1
# shellcheck source=../support/real_program.sh
source "$(dirname "$0")/../support/real_program.sh"
# shellcheck source=../support/accessibility_bus.sh
source "$(dirname "$0")/../support/accessibility_bus.sh"

# A smaller screen (WIDTHxHEIGHT) has the program draw itself smaller to fit; a screen reader
# must find every control where it is drawn all the same.
screen=${2:-}
start_session_bus
start_display $screen
# The machine's own router is never asked to open a port for a test.
QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 start_program --no-port-mapping
splash=$(wait_for_splash ${screen:+any}) || exit 1
read_atspi 30 splash || fail "the splash, read through AT-SPI"

past_the_splash "$splash"

read_atspi 40 board || fail "the board, read through AT-SPI"
echo "AT-SPI check passed"

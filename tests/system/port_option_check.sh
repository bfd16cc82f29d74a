#!/usr/bin/env bash
# Runs the real program with --port on a virtual X display and checks that, once the splash and
# the thanks box are gone, it listens on that port and greets a plain TCP peer there with
# "18Connected". The port is a free one above 1023, so this needs no privilege.
#
# usage: port_option_check.sh PROGRAM
# Exits 77 (skipped) where there is no virtual display or no free port.
set -uo pipefail

program=$1

# shellcheck source=../support/real_program.sh
source "$(dirname "$0")/../support/real_program.sh"

port=$(free_port) || exit

start_display
# The machine's own router is never asked to open a port for a test.
launch --no-port-mapping --port "$port"

wait_until 5 peer_on "$port" || fail "nothing listens on port $port after the thanks box"
greeting=$(timeout 1 cat <&3)
exec 3<&-
[[ $greeting == "18Connected" ]] || fail "greeted on port $port with '$greeting'"
finish

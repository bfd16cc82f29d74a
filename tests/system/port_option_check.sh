#!/usr/bin/env bash
# Runs the real program with --port on a virtual X display and checks that, once the splash and
# the thanks box are gone, it listens on that port and greets a plain TCP peer there with
# "18Connected". The port is a free one above 1023, so this needs no privilege.
#
# usage: port_option_check.sh PROGRAM
# Exits 77 (skipped) where there is no virtual display or no free port.
set -uo pipefail

program=$1

source "$(dirname "$0")/../support/real_program.sh"

port=$(free_port) || exit

start_display
# The machine's own router is never asked to open a port for a test.
start_program --no-port-mapping --port "$port"
splash=$(wait_for_splash) || exit 1
past_the_splash "$splash"

connected=0
for _ in $(seq 50); do
    if exec 3<>"/dev/tcp/127.0.0.1/$port"; then connected=1; break; fi 2>/dev/null
    sleep 0.1
done
((connected)) || fail "nothing listens on port $port after the thanks box"
timeout 1 cat <&3 >"$work/greeting"
exec 3<&-
greeting=$(cat "$work/greeting")
[[ $greeting == "18Connected" ]] || fail "greeted on port $port with '$greeting'"
echo "port option check passed (port $port)"

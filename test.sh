#!/usr/bin/env bash
# Installs what is missing, builds Skarnet twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test in both builds, then fuzzes the code that
# reads the peer's bytes and the invitation reader for a minute in all, and fails if a fuzzer
# finds a failing input.
set -euo pipefail
cd "$(dirname "$0")"

scripts/deps.sh --tests

# run_suite PRESET: configures, builds and tests with that preset of CMakePresets.json (the
# sanitizer preset sets the sanitizers' options for its tests).
run_suite() {
    cmake --preset "$1" >/dev/null
    cmake --build --preset "$1"
    ctest --preset "$1"
}

echo "== Tests =="
# Each library compiled as one or two merged files, as in the sanitizer build, which saves a
# minute; `cmake --preset debug` alone still compiles every file on its own.
cmake --preset debug -DCMAKE_UNITY_BUILD=ON >/dev/null
cmake --build --preset debug
# The checks that mostly wait (a link left idle for minutes) run beside everything that follows;
# their output is shown when they end.
background_log=$(mktemp)
ctest --preset background >"$background_log" 2>&1 &
background=$!
# A failure before the end stops them too. Once they have ended there is nothing left to stop,
# and the failed kill must not turn a passing run into a failing one.
trap 'kill "$background" 2>/dev/null || true; rm -f "$background_log"' EXIT
ctest --preset debug
echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
run_suite sanitize
echo "== Fuzzing what the peer sends and invitation lines (60 s) =="
tests/fuzz/fuzz.sh 60
echo "== Checks that ran beside the others =="
background_status=0
wait "$background" || background_status=$?
cat "$background_log"
exit "$background_status"

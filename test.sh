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
run_suite debug
echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
run_suite sanitize
echo "== Fuzzing what the peer sends and invitation lines (60 s) =="
tests/fuzz/fuzz.sh 60

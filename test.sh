#!/usr/bin/env bash
# Installs what is missing, builds Skarnet twice (plain, and with AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs every test in both builds, then fuzzes the code that
# reads the peer's bytes for a minute and fails if the fuzzer finds a failing input.
set -euo pipefail
cd "$(dirname "$0")"

scripts/deps.sh --tests

run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug "$@" >/dev/null
    cmake --build "$dir"
    ctest --test-dir "$dir" --output-on-failure
}

echo "== Tests =="
run_suite build
echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer =="
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run_suite build-sanitize -DSKARNET_SANITIZE=ON
echo "== Fuzzing what the peer sends (60 s) =="
tests/fuzz/fuzz.sh 60

#!/usr/bin/env bash
# Builds the fuzz target over the code that handles the peer's bytes with clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer, and fuzzes it for a number of seconds.
#
#   tests/fuzz/fuzz.sh [seconds]        (default 60; FUZZ_BUILD_DIR overrides build-fuzz)
#
# Starts from the seeds in tests/fuzz/corpus and keeps what it learns in build-fuzz/corpus, so
# a later run goes on from there. Fails when an input crashes, trips a sanitizer, breaks a
# check of the target or hangs; that input is saved as build-fuzz/crash-* (or timeout-*,
# leak-*, oom-*) and can be replayed by passing it to build-fuzz/tests/fuzz/fuzz_peer_bytes.
# Once fixed, copy it into tests/fuzz/corpus so every build runs it.
set -euo pipefail

seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}

# The preset "fuzz" of CMakePresets.json: clang, -O1 and Qt's own assertions.
cd "$root"
if [[ -n ${FUZZ_BUILD_DIR:-} ]]; then
    cmake --preset fuzz -B "$build" >/dev/null
    cmake --build "$build" --target fuzz_peer_bytes -j2
else
    cmake --preset fuzz >/dev/null
    cmake --build --preset fuzz
fi

mkdir -p "$build/corpus"
log="$build/fuzz.log"
echo "Fuzzing for $seconds s (log: $log)"
status=0
# A smaller quarantine of freed memory than AddressSanitizer's 256 MB keeps a long run's memory
# well under the fuzzer's 2 GB limit; freed blocks are still caught for a while after free.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:quarantine_size_mb=64 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$build/tests/fuzz/fuzz_peer_bytes" -max_total_time="$seconds" -timeout=30 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/" \
    "$build/corpus" "$here/corpus" >"$log" 2>&1 || status=$?

# The last status line holds the coverage reached: cov = code edges, ft = features.
grep -E '^#[0-9]+' "$log" | tail -n 1 || true
grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
if ((status != 0)); then
    tail -n 60 "$log"
    echo "The fuzzer failed (exit status $status)." >&2
    grep -o 'Test unit written to .*' "$log" >&2 || true
    exit 1
fi

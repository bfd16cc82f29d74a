#!/usr/bin/env bash
# Builds the fuzz targets with clang, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer
# and fuzzes them for a number of seconds in all: three quarters of them the code that handles
# the peer's bytes (fuzz_peer_bytes), one quarter the small readers of the invitation and reply
# lines and of the ICE description they carry (fuzz_invitation).
#
#   tests/fuzz/fuzz.sh [seconds]        (default 60; FUZZ_BUILD_DIR overrides build-fuzz)
#
# Each starts from its seeds (tests/fuzz/corpus, tests/fuzz/invitation_corpus) and keeps what it
# learns in build-fuzz/corpus or build-fuzz/invitation_corpus, so a later run goes on from
# there. Fails when an input crashes, trips a sanitizer, breaks a check of the target or hangs;
# that input is saved as build-fuzz/crash-* (or timeout-*, leak-*, oom-*; invitation-crash-*
# and so on for the invitation reader) and can be replayed by passing it to the target in
# build-fuzz/tests/fuzz/. Once fixed, copy it into the target's seeds so every build runs it.
set -euo pipefail

seconds=${1:-60}
invitation_seconds=$((seconds / 4 > 0 ? seconds / 4 : 1))
peer_seconds=$((seconds - invitation_seconds > 0 ? seconds - invitation_seconds : 1))
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}

# The preset "fuzz" of CMakePresets.json: clang, -O1 and Qt's own assertions.
cd "$root"
if [[ -n ${FUZZ_BUILD_DIR:-} ]]; then
    cmake --preset fuzz -B "$build" >/dev/null
    cmake --build "$build" --target fuzz_peer_bytes fuzz_invitation -j2
else
    cmake --preset fuzz >/dev/null
    cmake --build --preset fuzz
fi

# fuzz TARGET SECONDS LEARNED SEEDS ARTIFACT-PREFIX: runs one target; fails as described above.
fuzz() {
    local target=$1 time=$2 learned=$3 seeds=$4 prefix=$5
    local log="$build/$target.log"
    mkdir -p "$learned"
    echo "Fuzzing $target for $time s (log: $log)"
    local status=0
    # A smaller quarantine of freed memory than AddressSanitizer's 256 MB keeps a long run's
    # memory well under the fuzzer's 2 GB limit; freed blocks are still caught for a while.
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:quarantine_size_mb=64 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$build/tests/fuzz/$target" -max_total_time="$time" -timeout=30 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$prefix" \
        "$learned" "$seeds" >"$log" 2>&1 || status=$?

    # The last status line holds the coverage reached: cov = code edges, ft = features.
    grep -E '^#[0-9]+' "$log" | tail -n 1 || true
    grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
    if ((status != 0)); then
        tail -n 60 "$log"
        echo "The fuzzer $target failed (exit status $status)." >&2
        grep -o 'Test unit written to .*' "$log" >&2 || true
        exit 1
    fi
}

fuzz fuzz_peer_bytes "$peer_seconds" "$build/corpus" "$here/corpus" "$build/"
fuzz fuzz_invitation "$invitation_seconds" "$build/invitation_corpus" "$here/invitation_corpus" \
    "$build/invitation-"

#!/usr/bin/env bash
# Installs what is missing, builds an optimised Skarnet with its benchmarks, runs every
# benchmark and writes the figures, their baselines and targets to BENCHMARKS.md, above the
# figures of the runs before, which are kept.
set -euo pipefail
cd "$(dirname "$0")"

scripts/deps.sh --tests
cmake --preset bench >/dev/null
cmake --build --preset bench

table=$(mktemp)
report=$(mktemp)
trap 'rm -f "$table" "$report" BENCHMARKS.md.new' EXIT
echo "== Two linked boards: latency, bursts, long lists, long chat =="
QT_QPA_PLATFORM=offscreen build-bench/bench/bench_link --markdown "$table"
echo "== Start-up and memory of the real program on a virtual display =="
bench/startup_bench.sh build-bench/skarnet build-bench/bench/minimal_window 10 --markdown "$table" ||
    echo "(start-up benchmark could not run: $?)"
echo "== Keystroke to the other screen: two copies on two virtual displays =="
bench/keystroke_bench.sh build-bench/skarnet build-bench/bench/minimal_link --markdown "$table" ||
    echo "(keystroke benchmark could not run: $?)"
echo "== A long list typed over a slow link (256 kbit/s, 80 ms; 1 Mbit/s, 80 ms, 1 % loss) =="
build-bench/bench/bench_slow_link --markdown "$table" ||
    echo "(slow-link benchmark could not run: $?)"

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
{
    echo "# Benchmarks"
    echo
    echo "Measured on $(date -u '+%Y-%m-%d %H:%M UTC'): ${cpu:-unknown processor}, $(nproc) cores,"
    echo "$(free -g | awk '/^Mem:/ {print $2}') GiB of memory, $(uname -sr), Qt $(qmake6 -query QT_VERSION 2>/dev/null || pkg-config --modversion Qt6Core)."
    echo "The machine is shared and noisy: ratios against the baseline measured in the same run are"
    echo "what counts; absolute times are given for reference."
    echo
    echo "Reproduce with \`./bench.sh\` (about six minutes; as root, for port 123 and to shape the"
    echo "slow link)."
    echo
    cat "$table"
} >"$report"
bench/keep_earlier_runs.sh "$report" BENCHMARKS.md >BENCHMARKS.md.new
mv BENCHMARKS.md.new BENCHMARKS.md
echo "Wrote BENCHMARKS.md (earlier runs kept below the new one)"

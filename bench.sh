#!/usr/bin/env bash
# Installs what is missing, builds an optimised Skarnet with its benchmarks, runs every
# benchmark and writes BENCHMARKS.md from their result lines (bench/render_report.py): this
# run's figures in full, with their baselines and targets, and the runs before summarised below.
set -euo pipefail
cd "$(dirname "$0")"

scripts/deps.sh --tests
cmake --preset bench >/dev/null
cmake --build --preset bench

results=$(mktemp)
trap 'rm -f "$results" BENCHMARKS.md.new' EXIT
# run TITLE COMMAND...: runs one benchmark, its output shown and kept; one that fails leaves a
# note in the report, beside whatever figures it printed before.
run() {
    local title=$1 status
    shift
    echo "== $title"
    "$@" | tee -a "$results" && status=0 || status=${PIPESTATUS[0]}
    if ((status == 77)); then
        printf 'NOTE\t%s: skipped, see its output\n' "$title" >>"$results"
    elif ((status != 0)); then
        printf 'NOTE\t%s: ended with status %d\n' "$title" "$status" >>"$results"
    fi
}
run "Two linked boards: latency, bursts, long lists, long chat" \
    env QT_QPA_PLATFORM=offscreen build-bench/bench/bench_link
run "Start-up and memory of the real program on a virtual display" \
    bench/startup_bench.sh build-bench/skarnet build-bench/bench/minimal_window 10
run "Keystroke to the other screen: two copies on two virtual displays" \
    bench/keystroke_bench.sh build-bench/skarnet build-bench/bench/minimal_link
run "A long list typed over a slow link (256 kbit/s, 80 ms; 1 Mbit/s, 80 ms, 1 % loss)" \
    build-bench/bench/bench_slow_link
run "Keystroke round trips through both routers and through a relay, beside an open port" \
    bench/ice_path_bench.sh build-bench/tests/system/ice_peer

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
qt=$(qmake6 -query QT_VERSION 2>/dev/null || pkg-config --modversion Qt6Core)
machine="${cpu:-unknown processor}, $(nproc) cores, $(free -g | awk '/^Mem:/ {print $2}') GiB of \
memory, $(uname -sr), Qt $qt"
bench/render_report.py "$results" BENCHMARKS.md --machine "$machine" >BENCHMARKS.md.new
mv BENCHMARKS.md.new BENCHMARKS.md
echo "Wrote BENCHMARKS.md (the runs before summarised below this one)"

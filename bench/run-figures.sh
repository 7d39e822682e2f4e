#!/bin/sh
# Runs the benchmarks behind docs/performance.md and prints their figures.
#
#   bench/run-figures.sh [BUILD_DIR [OUT_DIR]]
#
# BUILD_DIR (default build-bench) is a Release build; the JSON results go to OUT_DIR
# (default /tmp/bw-figures). Each window-load size runs three times, each time in a fresh
# process, because the peak resident size it reports is the process's own.
set -eu
build=${1:-build-bench}
out=${2:-/tmp/bw-figures}
bench=$build/bench
mkdir -p "$out"
export QT_QPA_PLATFORM=offscreen

for n in 10 255 10000; do
    for run in 1 2 3; do
        "$bench/window_bench" --benchmark_filter="BM_WindowLoad/$n/" \
            --benchmark_out="$out/load-$n-$run.json" --benchmark_out_format=json
    done
done
"$bench/window_bench" --benchmark_filter=BM_ListRefresh --benchmark_repetitions=3 \
    --benchmark_out="$out/refresh.json" --benchmark_out_format=json
"$bench/window_bench" --benchmark_filter=VsBare --benchmark_repetitions=5 \
    --benchmark_out="$out/ratio.json" --benchmark_out_format=json
"$bench/store_bench" --benchmark_repetitions=3 \
    --benchmark_out="$out/store.json" --benchmark_out_format=json
"$bench/bell_bench" --benchmark_repetitions=3 \
    --benchmark_out="$out/bell.json" --benchmark_out_format=json
# brackwater-bell against the simulator program (the scan alone takes about half a minute)
"$bench/tool_bench" --benchmark_out="$out/tool.json" --benchmark_out_format=json
# serial paced, TCP into SQLite and PostgreSQL, and TCP into SQLite against a bare insert
"$bench/collect_bench" --benchmark_repetitions=3 \
    --benchmark_out="$out/collect.json" --benchmark_out_format=json

"$bench/names_bench" --benchmark_out="$out/names.json" --benchmark_out_format=json
# the console: the event loop during a status reading, its start against a bare one, the
# operation-log viewer and the status over a million log entries (SQLite, and PostgreSQL on
# BW_PG_CONN or a throwaway cluster)
"$bench/console_bench" --benchmark_out="$out/console.json" --benchmark_out_format=json

# sixteen collectors at once against sixteen bare ones, and brackwater-collect at 10,000 to
# 1,000,000 records (PostgreSQL on BW_PG_CONN or a throwaway cluster)
"$bench/scale_bench" --benchmark_out="$out/scale.json" --benchmark_out_format=json

python3 "$(dirname "$0")/figures.py" "$out"

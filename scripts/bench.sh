#!/usr/bin/env bash
# Builds the benchmarks in a release build (build/release) and runs them.
#
#   scripts/bench.sh             every case 5 times; prints a table of medians
#   scripts/bench.sh --smoke     every case once, briefly (CI); times mean nothing
#   scripts/bench.sh ARGS...     further arguments go to both programs, e.g.
#                                --benchmark_filter=records/encode
#
# Full output and JSON results stay in build/release/bench/results/. Nothing
# here judges a time: the exit status only says whether everything ran.
set -euo pipefail
cd "$(dirname "$0")/.."

smoke=0
args=()
for arg in "$@"; do
  if [ "$arg" = "--smoke" ]; then smoke=1; else args+=("$arg"); fi
done

scripts/setup.sh libbenchmark-dev

jobs=$(nproc)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DPEL_BUILD_BENCH=ON >/dev/null
cmake --build build/release --target bench -j"$jobs"

bin=build/release/bench
results=$bin/results
mkdir -p "$results"

if [ "$smoke" = 1 ]; then
  run_flags=(--smoke)
else
  run_flags=(--benchmark_repetitions=5 --benchmark_report_aggregates_only=true)
fi

echo
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//') ($(nproc) logical CPUs)"
echo "Load average before the run: $(cut -d' ' -f1-3 /proc/loadavg)"

status=0
for program in pel_bench_vectors pel_bench_records; do
  echo
  echo "### $program"
  log=$results/$program.txt
  if ! "$bin/$program" "${run_flags[@]}" ${args[@]+"${args[@]}"} \
      --benchmark_out="$results/$program.json" --benchmark_out_format=json >"$log"; then
    status=1
  fi
  grep -F "ERROR OCCURRED" "$log" && status=1
  # The programs end with their own summary: medians (or single runs) and ratios.
  sed -n '/^== summary/,$p' "$log"
done
echo
echo "Full output: $results/"
exit "$status"

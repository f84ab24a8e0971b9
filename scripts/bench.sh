#!/usr/bin/env bash
# Builds the benchmarks in a release build (build/release) and runs them.
#
#   scripts/bench.sh             every case 5 times; prints a table of medians
#   scripts/bench.sh --smoke     every case once, briefly (CI); times mean nothing
#   scripts/bench.sh --baseline REV
#                                also builds the libraries at commit REV
#                                (scripts/baseline.sh) and times the record-set
#                                cases and the earlier libraries' vector cases
#                                against them, both loaded in one process
#   scripts/bench.sh ARGS...     further arguments go to both programs, e.g.
#                                --benchmark_filter=records/encode
#
# Full output and JSON results stay in build/release/bench/results/. Nothing
# here judges a time: the exit status only says whether everything ran.
set -euo pipefail
cd "$(dirname "$0")/.."

smoke=0
baseline=
args=()
while [ $# -gt 0 ]; do
  case "$1" in
    --smoke) smoke=1 ;;
    --baseline)
      if [ $# -lt 2 ]; then
        echo "bench.sh: --baseline needs a revision" >&2
        exit 2
      fi
      baseline=$2
      shift
      ;;
    --baseline=*) baseline=${1#--baseline=} ;;
    *) args+=("$1") ;;
  esac
  shift
done

scripts/setup.sh libbenchmark-dev

baseline_flags=()
vector_baseline_flags=()
if [ -n "$baseline" ]; then
  baseline_libs=$(scripts/baseline.sh "$baseline" pel_arm64 pellib pel_linux)
  baseline_lib=$(sed -n 1p <<<"$baseline_libs")
  baseline_flags=(--pel_baseline="$baseline_lib")
  vector_baseline_flags=(--pel_baseline_pellib="$(sed -n 2p <<<"$baseline_libs")"
                         --pel_baseline_linux="$(sed -n 3p <<<"$baseline_libs")")
fi

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
if [ -n "$baseline" ]; then
  echo "Baseline: the libraries at $(git rev-parse --short "$baseline^{commit}"):"
  sed 's/^/  /' <<<"$baseline_libs"
fi

status=0
for program in pel_bench_vectors pel_bench_records; do
  echo
  echo "### $program"
  log=$results/$program.txt
  extra=()
  if [ "$program" = pel_bench_records ]; then extra=(${baseline_flags[@]+"${baseline_flags[@]}"}); fi
  if [ "$program" = pel_bench_vectors ]; then extra=(${vector_baseline_flags[@]+"${vector_baseline_flags[@]}"}); fi
  if ! "$bin/$program" "${run_flags[@]}" ${extra[@]+"${extra[@]}"} ${args[@]+"${args[@]}"} \
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

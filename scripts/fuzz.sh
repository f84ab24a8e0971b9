#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (ASan + UBSan) and runs each
# for a bounded time on a copy of its seeds, so the repository is not changed.
# Any finding (crash, leak, timeout, out-of-memory, broken invariant) fails the
# script; its input is kept under build/fuzz/run/<target>/artifacts/ and
# replays with: build/fuzz/fuzz/fuzz_<target> <input>
#
#   scripts/fuzz.sh                  # every target, 60 s each
#   PEL_FUZZ_SECONDS=10 scripts/fuzz.sh decode encode
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh clang libclang-rt-14-dev

build=build/fuzz
seconds=${PEL_FUZZ_SECONDS:-60}
all_targets=(encode decode routes decode_vector earlier_encode sealed_open base64_decode hex_decode key_field)
if [ "$#" -gt 0 ]; then targets=("$@"); else targets=("${all_targets[@]}"); fi

cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DPEL_FUZZ=ON -DBUILD_TESTING=OFF -DPEL_BUILD_BENCH=OFF
cmake --build "$build" -j"$(nproc)" --target pel_fuzzers

export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

failed=()
summary=()
for target in "${targets[@]}"; do
  work=$build/run/$target
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp -R "fuzz/corpus/$target/." "$work/corpus/"
  options=(-max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
           -artifact_prefix="$work/artifacts/")
  case "$target" in
    encode | decode | routes) options+=(-dict=fuzz/json.dict) ;;
  esac
  # Every failed call writes a line to stderr; -close_fd_mask=2 silences the
  # target's stderr while the fuzzer and sanitizer reports still get through.
  options+=(-close_fd_mask=2)

  echo "=== fuzz_$target: ${seconds} s"
  status=0
  "$build/fuzz/fuzz_$target" "${options[@]}" "$work/corpus" >"$work/log" 2>&1 || status=$?

  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$work/log" | tail -n 1 || true)
  runs=$(grep -E '^stat::number_of_executed_units:' "$work/log" | awk '{print $2}' | tail -n 1 || true)
  echo "${done_line:-no DONE line}"
  echo "executions: ${runs:-?}"
  summary+=("$(printf '%-14s executions %-10s %s' "$target" "${runs:-?}" "$(grep -oE 'cov: [0-9]+ ft: [0-9]+' <<<"$done_line" || true)")")

  if [ "$status" -ne 0 ] || [ -n "$(ls -A "$work/artifacts")" ]; then
    failed+=("$target")
    echo "--- fuzz_$target FAILED (exit $status); end of its log ($work/log):"
    tail -n 60 "$work/log"
    ls -l "$work/artifacts"
  fi
done

echo
echo "=== summary (${seconds} s per target)"
printf '%s\n' "${summary[@]}"
if [ "${#failed[@]}" -gt 0 ]; then
  echo "findings in: ${failed[*]}"
  exit 1
fi
echo "no findings"

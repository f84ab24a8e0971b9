#!/usr/bin/env bash
# Builds the concurrency test (tests/threads) under ThreadSanitizer and runs it;
# any report fails the script. The rest of the tree is configured but not built.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

build=build/tsan
flags="-fsanitize=thread -fno-omit-frame-pointer -g"

# Without the FMA clones: the runtime is not up yet when ifuncs resolve.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread -DPEL_BUILD_BENCH=OFF \
  -DPEL_FMA_CLONES=OFF
cmake --build "$build" -j"$(nproc)" --target threads_tests

# halt_on_error: the first race ends the run with TSan's exit code.
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 history_size=4"
ctest --test-dir "$build" -R '^ConcurrentCalls\.' --output-on-failure

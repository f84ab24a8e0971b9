#!/usr/bin/env bash
# Builds and runs every check of the project, in order; the first failure stops it:
#   1. the test suite, release build; on x86-64 the known answers once more with
#      the C library's cos and sin of CPUs without FMA;
#   2. the test suite built by clang 19 with LLVM's libc++ 19 (scripts/libcxx.sh);
#   3. the cipher's constant-time check under valgrind's memcheck, every engine;
#   4. the test suite under AddressSanitizer and UndefinedBehaviorSanitizer, built
#      without the FMA clones of x86-64;
#   5. the concurrent-calls test under ThreadSanitizer;
#   6. each fuzz target for a minute (PEL_FUZZ_SECONDS to change);
#   7. the test suite cross-built for Linux on aarch64, run under qemu.
# After each run of the suite, the cipher engine it took is printed ("[ engine   ] selected: ...").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure -j"$jobs"
scripts/aes_engine.sh build/release
if [ "$(uname -m)" = x86_64 ]; then
  # glibc picks its cos and sin by CPU, and the two variants differ in the last
  # bit of some angles: the encoded bits must hold under both.
  GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA \
    ctest --test-dir build/release --output-on-failure -j"$jobs" -L known_answers
  GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA scripts/aes_engine.sh build/release
fi

scripts/libcxx.sh
scripts/memcheck.sh

# Without the FMA clones: the whole suite, the known answers and the block
# route against the sparse route among it, on the code a CPU without FMA runs.
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPEL_SANITIZE=ON -DPEL_BUILD_BENCH=OFF \
  -DPEL_FMA_CLONES=OFF
cmake --build build/sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j"$jobs"
scripts/aes_engine.sh build/sanitize

scripts/tsan.sh
scripts/fuzz.sh
scripts/aarch64.sh

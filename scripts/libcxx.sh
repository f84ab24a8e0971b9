#!/usr/bin/env bash
# Builds the three libraries and the whole test suite, the known answers among
# it, with clang 19 and LLVM's C++ library libc++ 19 (the C++ library of
# macOS), and runs the suite (Debian, as root). Build tree: build/libcxx.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh clang-19 libc++-19-dev libc++abi-19-dev googletest

build=build/libcxx
jobs=$(nproc)
compilers=(-DCMAKE_C_COMPILER=clang-19 -DCMAKE_CXX_COMPILER=clang++-19)
libcxx=(-DCMAKE_CXX_FLAGS=-stdlib=libc++ -DCMAKE_EXE_LINKER_FLAGS=-stdlib=libc++
        -DCMAKE_SHARED_LINKER_FLAGS=-stdlib=libc++)

# Debian's libgtest is built for libstdc++; a C++ program cannot mix the two
# libraries, so GoogleTest is built here from Debian's sources (googletest).
gtest=$build/googletest
if [ ! -f "$gtest/install/.stamp" ]; then
  cmake -S /usr/src/googletest -B "$gtest/build" -DCMAKE_BUILD_TYPE=Release "${compilers[@]}" "${libcxx[@]}" \
    -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$PWD/$gtest/install" >/dev/null
  cmake --build "$gtest/build" -j"$jobs" >/dev/null
  cmake --install "$gtest/build" >/dev/null
  touch "$gtest/install/.stamp"
fi

# Google Benchmark is packaged for libstdc++ alone: the benchmarks stay out.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release "${compilers[@]}" "${libcxx[@]}" \
  -DCMAKE_PREFIX_PATH="$PWD/$gtest/install" -DPEL_BUILD_BENCH=OFF
cmake --build "$build" -j"$jobs"

# What the libraries were built with, read off them: the compiler that wrote
# them and the C++ runtime they load.
for library in interface/libpel_arm64.so earlier/pellib.so earlier/libpel_linux.so; do
  compiler=$(readelf -p .comment "$build/$library" | grep -o 'clang version [0-9.]*' | sort -u | head -n 1)
  runtime=$(readelf -d "$build/$library" | sed -n 's/.*Shared library: \[\(libc++[^]]*\)\].*/\1/p' | xargs)
  echo "[ toolchain ] $(basename "$library"): built by ${compiler:-an unknown compiler}, loads ${runtime:-no libc++}"
  case "$runtime" in *libc++.so*) ;; *) echo "libcxx: $library does not use libc++" >&2; exit 1 ;; esac
done

ctest --test-dir "$build" --output-on-failure -j"$jobs"
scripts/aes_engine.sh "$build"

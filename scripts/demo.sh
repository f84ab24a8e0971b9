#!/usr/bin/env bash
# Builds everything and runs the demonstration driver of each library through the
# demo host, which loads the library and calls its exported main.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j"$(nproc)"

suffix=so
[ "$(uname)" = Darwin ] && suffix=dylib
for library in interface/libpel_arm64 earlier/pellib earlier/libpel_linux; do
  echo "=== $(basename "$library").$suffix"
  "$build/hosts/pel_demo_host" "$build/$library.$suffix"
done

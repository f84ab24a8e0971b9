#!/usr/bin/env bash
# Cross-builds the libraries and the test suite for Linux on 64-bit Arm and runs
# the suite under qemu-user (Debian amd64, as root). Build tree: build/aarch64.
set -euo pipefail
cd "$(dirname "$0")/.."
# The target's libraries come from Debian's arm64 packages, installed beside the
# host's. libstdc++6:arm64 is listed so that the programs run against one libc
# and one C++ runtime, both from the multiarch packages (see the toolchain file).
dpkg --print-foreign-architectures | grep -qx arm64 || dpkg --add-architecture arm64
scripts/setup.sh g++-aarch64-linux-gnu qemu-user zlib1g-dev:arm64 libgtest-dev:arm64 libstdc++6:arm64

jobs=$(nproc)

cmake -S . -B build/aarch64 -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/aarch64-linux-gnu.cmake"
cmake --build build/aarch64 -j"$jobs"
ctest --test-dir build/aarch64 --output-on-failure -j"$jobs"
scripts/aes_engine.sh build/aarch64

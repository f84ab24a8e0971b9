#!/usr/bin/env bash
# Cross-builds the libraries and the test suite for Linux on 64-bit Arm and runs
# the suite under qemu-user (Debian amd64, as root). Build tree: build/aarch64.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

# The target's libraries come from Debian's arm64 packages, installed beside the
# host's. libstdc++6:arm64 is listed so that the programs run against one libc
# and one C++ runtime, both from the multiarch packages (see the toolchain file).
packages=(g++-aarch64-linux-gnu qemu-user zlib1g-dev:arm64 libgtest-dev:arm64 libstdc++6:arm64)

log=$(mktemp)
trap 'rm -f "$log"' EXIT
quietly() {
  if ! DEBIAN_FRONTEND=noninteractive "$@" >"$log" 2>&1; then
    cat "$log" >&2
    echo "failed: $*" >&2
    exit 1
  fi
}

update_needed=false
if ! dpkg --print-foreign-architectures | grep -qx arm64; then
  dpkg --add-architecture arm64
  update_needed=true
fi

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done

if [ "${#missing[@]}" -gt 0 ]; then
  update_needed=true
fi
if [ "$update_needed" = true ]; then
  quietly apt-get update -qq
fi
if [ "${#missing[@]}" -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  quietly apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

jobs=$(nproc)

cmake -S . -B build/aarch64 -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/toolchains/aarch64-linux-gnu.cmake"
cmake --build build/aarch64 -j"$jobs"
ctest --test-dir build/aarch64 --output-on-failure -j"$jobs"

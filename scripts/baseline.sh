#!/usr/bin/env bash
# Builds libraries as they were at a commit and prints their paths, one a line
# in the order asked, for timing the working tree's build against them in one
# process (scripts/bench.sh --baseline REV).
#
#   scripts/baseline.sh REV                     libpel_arm64
#   scripts/baseline.sh REV pel_arm64 pellib pel_linux
#
# A library's CMake target names it: pel_arm64, pellib, pel_linux.
# The commit's files go to build/baseline/<commit>/src (git archive), a
# release build of the library alone to build/baseline/<commit>/build; both
# are reused when there. Everything but the path goes to stderr.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ]; then
  echo "usage: scripts/baseline.sh REV [TARGET...]" >&2
  exit 2
fi
if ! commit=$(git rev-parse --verify --quiet "$1^{commit}"); then
  echo "baseline: $1 is not a commit" >&2
  exit 2
fi
root=$PWD/build/baseline/$(git rev-parse --short "$commit")
src=$root/src
build=$root/build

# The stamp is written last, so an interrupted extraction is redone.
if [ ! -f "$root/src.commit" ]; then
  rm -rf "$src"
  mkdir -p "$src"
  git archive "$commit" | tar -x -C "$src"
  echo "$commit" >"$root/src.commit"
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
  # PEL_BUILD_TESTS for commits from before the build followed BUILD_TESTING.
  cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DPEL_BUILD_TESTS=OFF -DPEL_BUILD_BENCH=OFF >&2
fi
rev=$1
shift
targets=("$@")
if [ "${#targets[@]}" -eq 0 ]; then targets=(pel_arm64); fi
cmake --build "$build" --target "${targets[@]}" -j"$(nproc)" >&2

# The link name: a file before the libraries had versions, a link to one after.
for target in "${targets[@]}"; do
  case "$target" in
    pel_arm64) stem=libpel_arm64 ;;
    pellib) stem=pellib ;;
    pel_linux) stem=libpel_linux ;;
    *) echo "baseline: unknown target $target" >&2; exit 2 ;;
  esac
  lib=$(find "$build" \( -type f -o -type l \) \( -name "$stem.so" -o -name "$stem.dylib" \) | head -n 1)
  if [ -z "$lib" ]; then
    echo "baseline: no $stem in $build at $rev" >&2
    exit 1
  fi
  echo "$lib"
done

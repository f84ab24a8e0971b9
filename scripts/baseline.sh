#!/usr/bin/env bash
# Builds libpel_arm64 as it was at a commit and prints the library's path, for
# timing the working tree's build against it in one process
# (scripts/bench.sh --baseline REV).
#
#   scripts/baseline.sh REV
#
# The commit's files go to build/baseline/<commit>/src (git archive), a
# release build of the library alone to build/baseline/<commit>/build; both
# are reused when there. Everything but the path goes to stderr.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ne 1 ]; then
  echo "usage: scripts/baseline.sh REV" >&2
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
cmake --build "$build" --target pel_arm64 -j"$(nproc)" >&2

# The link name: a file before the libraries had versions, a link to one after.
lib=$(find "$build" \( -type f -o -type l \) \( -name libpel_arm64.so -o -name libpel_arm64.dylib \) | head -n 1)
if [ -z "$lib" ]; then
  echo "baseline: no libpel_arm64 in $build" >&2
  exit 1
fi
echo "$lib"

#!/usr/bin/env bash
# Runs the constant-time check (tests/sealing/constant_time_check.cpp) of the
# release build under valgrind's memcheck, on every cipher engine the CPU runs.
# The key and the data are marked undefined: any branch on them or address made
# from them is a report, and any report fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

build=build/release
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release
cmake --build "$build" -j"$(nproc)" --target sealing_constant_time

valgrind --tool=memcheck --error-exitcode=1 --track-origins=yes "$build/tests/sealing/sealing_constant_time"

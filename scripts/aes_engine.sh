#!/usr/bin/env bash
# Prints which cipher engine the tests of a build tree take on this machine (the
# one test that says so, run through ctest, so through qemu for a cross build).
#   scripts/aes_engine.sh build/release
set -euo pipefail
ctest --test-dir "$1" -R '^SealingAesEngine\.SelectedEngine$' -V | grep -F '[ engine   ]'

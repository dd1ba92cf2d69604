#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
scripts/build.sh
BUILD_DIR=${TAVIK_BUILD_DIR:-build}
# Tests that start the firmware make their own network namespace and
# sysroot, so they can run side by side.
ctest --test-dir "$BUILD_DIR" --output-on-failure -j"${TAVIK_TEST_JOBS:-2}" "$@"

#!/usr/bin/env bash
# Configures and builds the whole tree into build/.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${TAVIK_BUILD_DIR:-build}
# Configure every time: folders join the build by appearing.
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD_DIR" -- -j"$(nproc)"

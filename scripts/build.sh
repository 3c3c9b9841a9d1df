#!/usr/bin/env bash
# Configures (once) and builds velmor in build/ (or $VELMOR_BUILD_DIR).
# Extra arguments are passed to cmake at configure time.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${VELMOR_BUILD_DIR:-build}"
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
fi
cmake --build "$BUILD_DIR" -j "${VELMOR_JOBS:-2}"

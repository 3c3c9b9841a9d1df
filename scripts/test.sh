#!/usr/bin/env bash
# Builds velmor and runs every test: the whole suite on a normal build, then
# the unit tests again under AddressSanitizer/UndefinedBehaviorSanitizer and
# the threaded parts under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
export PLAYWRIGHT_MCP_EXECUTABLE_PATH="${PLAYWRIGHT_MCP_EXECUTABLE_PATH:-$(command -v chromium || true)}"
export VELMOR_BROWSER_NO_SANDBOX="${VELMOR_BROWSER_NO_SANDBOX:-1}"
JOBS="${VELMOR_JOBS:-2}"

run_suite() {  # build dir, ctest arguments...
  local dir="$1"
  shift
  cmake --build "$dir" -j "$JOBS"
  ctest --test-dir "$dir" --output-on-failure -j "$JOBS" "$@"
}

configure() {  # build dir, cmake arguments...
  local dir="$1"
  shift
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  fi
}

configure build
run_suite build

configure build-asan -DVELMOR_SANITIZE=ON -DVELMOR_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_suite build-asan -L unit

configure build-tsan -DVELMOR_TSAN=ON -DVELMOR_BENCH=OFF
TSAN_OPTIONS=halt_on_error=1 run_suite build-tsan -L unit -R "${VELMOR_TSAN_TESTS:-Process|Mind|Mcp|Concurren|Thread|Park}"

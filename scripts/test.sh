#!/usr/bin/env bash
# Builds velmor and runs every test: the whole suite on a normal build, then
# the unit tests again under AddressSanitizer/UndefinedBehaviorSanitizer and
# the threaded parts under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
export PLAYWRIGHT_MCP_EXECUTABLE_PATH="${PLAYWRIGHT_MCP_EXECUTABLE_PATH:-$(command -v chromium || true)}"
export VELMOR_BROWSER_NO_SANDBOX="${VELMOR_BROWSER_NO_SANDBOX:-1}"
JOBS="${VELMOR_JOBS:-2}"

run_suite() {  # build dir, targets (or "all"), ctest arguments...
  local dir="$1" targets="$2"
  shift 2
  if [ "$targets" = all ]; then
    cmake --build "$dir" -j "$JOBS"
  else
    # shellcheck disable=SC2086
    cmake --build "$dir" -j "$JOBS" --target $targets
  fi
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
run_suite build all

configure build-asan -DVELMOR_SANITIZE=ON -DVELMOR_BENCH=OFF
# The sanitizer builds cover the libraries whose tests have been checked
# clean under them; widen the lists as more are.
ASAN_TARGETS="${VELMOR_ASAN_TARGETS:-core_test model_test}"
TSAN_TARGETS="${VELMOR_TSAN_TARGETS:-core_test model_test}"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  run_suite build-asan "$ASAN_TARGETS" -L unit -R "^(Error|Utf8|Clock|Random|Encoding|Files|Process|Interrupt|Config|Settings|CommandLine\.|Provider|Pricing|Responses|Messages|ChatCompletions|ChatGpt|ClientId|PostForm|SignInFile|FakeProvider|TokenResponse|TokenTotals)"

configure build-tsan -DVELMOR_TSAN=ON -DVELMOR_BENCH=OFF
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp" run_suite build-tsan "$TSAN_TARGETS" -L unit -R "${VELMOR_TSAN_TESTS:-Process|Files|Thread|Concurren|Refresh}"

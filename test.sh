#!/usr/bin/env bash
# Installs what is missing (build, harness, tests, film and windows packages; never
# removing anything), builds everything and runs every test under the headless harness (Xvfb +
# openbox + the machine's sound server, PipeWire or PulseAudio). Exits non-zero on any failure.
#   ./test.sh                 all tests
#   ./test.sh -L full-run     only the tests with that CTest label (any ctest arguments pass through)
#   ./test.sh --sanitize      the same in build-sanitize, built with AddressSanitizer and
#                             UndefinedBehaviorSanitizer (the resource generators excepted);
#                             any sanitizer report fails the test it happens in
set -euo pipefail
cd "$(dirname "$0")"
build=build
cmake_args=(-DCMAKE_BUILD_TYPE=Release -DKELVO_TESTS=ON)
if [ "${1:-}" = --sanitize ]; then
  shift
  build=build-sanitize
  cmake_args+=(-DKELVO_SANITIZE=ON)
  # A report ends the process that has it, with a stack; leaks are reported at exit.
  export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
  export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
fi
scripts/install-deps build harness tests film windows
cmake -S . -B "$build" "${cmake_args[@]}"
cmake --build "$build" -j"$(nproc)"
scripts/headless ctest --test-dir "$build" --output-on-failure -j2 "$@"

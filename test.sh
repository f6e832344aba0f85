#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test under the headless
# harness (Xvfb + openbox + PulseAudio). Exits non-zero on any failure.
#   ./test.sh                 all tests
#   ./test.sh -L full-run     only the tests with that CTest label (any ctest arguments pass through)
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps
build=build
cmake_args=(-DCMAKE_BUILD_TYPE=Release)
cmake -S . -B "$build" "${cmake_args[@]}"
cmake --build "$build" -j"$(nproc)"
scripts/headless ctest --test-dir "$build" --output-on-failure -j2 "$@"

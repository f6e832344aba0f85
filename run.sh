#!/usr/bin/env bash
# Installs what is missing (never removing anything), builds kelvo (Release) and runs it with
# the given arguments (e.g. --device plughw:0). With $DISPLAY set it runs on that display and
# needs only the build packages; without one it also installs the headless harness, runs
# under it in record mode and prints where the recording is.
set -euo pipefail
cd "$(dirname "$0")"
if [ -n "${DISPLAY:-}" ]; then
  scripts/install-deps build
else
  scripts/install-deps build harness
fi
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DKELVO_TESTS=OFF >/dev/null
cmake --build build -j"$(nproc)" --target kelvo
if [ -n "${DISPLAY:-}" ]; then
  exec build/kelvo "$@"
fi
exec scripts/headless --record "record/$(date +%Y%m%d-%H%M%S)" build/kelvo "$@"

#!/usr/bin/env bash
# Installs what is missing, builds kelvo (Release) and runs it with the given arguments
# (e.g. --device plughw:0). With $DISPLAY set it runs on that display; without one it runs
# under the headless harness in record mode and prints where the recording is.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)" --target kelvo
if [ -n "${DISPLAY:-}" ]; then
  exec build/kelvo "$@"
fi
exec scripts/headless --record "record/$(date +%Y%m%d-%H%M%S)" build/kelvo "$@"

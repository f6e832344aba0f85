#!/usr/bin/env bash
# Measures kelvo against the floor program (bench/floor.cpp) and writes bench/results.md:
# start-up by phase, the harbour scene's frame time, the memory of a full run and the audio
# underruns, each the median of several runs with kelvo and the floor alternating, all under
# the headless harness (Xvfb + Mesa's software renderer + the sound server's null sink).
# Takes about a quarter of an hour with the defaults; keep the machine otherwise idle.
#   ./bench.sh                               everything, 5 runs each
#   ./bench.sh --runs 3 --frame-seconds 10   fewer and shorter runs
#   ./bench.sh --no-full                     without the full runs (memory, underruns)
#   ./bench.sh --no-frames                   without the harbour frames
# Every run also compares kelvo's start-up and memory with the full font atlas against a GL
# limited to 4096 x 4096 textures (the packed atlas).
#   ./bench.sh --baseline OLD_KELVO          also start-up warm and cold against another kelvo
#                                            (one whose store is uncompressed); cold runs drop
#                                            the page cache, so they need root
#   ./bench.sh --windows                     also tessic.exe under Wine against kelvo: builds the
#                                            Windows tree in build-bench-windows/ with this
#                                            build's store (scripts/windows-build) and runs the
#                                            benchmark inside one Wine prefix made for it
#                                            (scripts/wine-session)
#   ./bench.sh --web [--web-renderer swiftshader]
#                                            also the web page in Chromium against kelvo: builds
#                                            the page in build-web/ with this build's store
#                                            (scripts/web-build); the browser draws with ANGLE
#                                            over Mesa's llvmpipe, as kelvo does (or with
#                                            Chromium's SwiftShader)
#   ./bench.sh --web-only [--web-renderer R] the web page against kelvo alone (without the
#                                            floor), into bench/results-web.md
set -euo pipefail
cd "$(dirname "$0")"
windows=0
web=0
out=bench/results.md
options=()
for option in "$@"; do
  case $option in
    --windows) windows=1 ;;
    --web) web=1 ;;
    --web-only) web=1; out=bench/results-web.md; options+=(--web-only) ;;
    *) options+=("$option") ;;
  esac
done
purposes=(build harness tests)
[ "$windows" = 0 ] || purposes+=(windows)
[ "$web" = 0 ] || purposes+=(web browsers)
scripts/install-deps "${purposes[@]}"
build=build-bench
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DKELVO_SANITIZE=OFF -DKELVO_TESTS=ON >/dev/null
cmake --build "$build" -j"$(nproc)" --target kelvo-bench
if [ "$web" = 1 ]; then
  cmake --build "$build" -j"$(nproc)" --target kelvo_resources kelvo-res
  page=$(scripts/web-build "$build/res/store.bin" "$build/kelvo-res")
  options+=(--web-page "$page" --web-driver scripts/web/bench.py)
fi
session=()
if [ "$windows" = 1 ]; then
  KELVO_HOST_BUILD="$PWD/$build" scripts/windows-build "$PWD/build-bench-windows"
  session=(scripts/wine-session)
  options+=(--tessic-exe build-bench-windows/tessic.exe --wine scripts/wine)
fi
exec scripts/headless "${session[@]}" "$build/kelvo-bench" \
  --kelvo "$build/kelvo" --floor "$build/kelvo-floor" \
  --glprobe "$build/bench/libkelvo-glprobe.so" --allocprobe "$build/bench/libkelvo-allocprobe.so" \
  --gllimit "$build/bench/libkelvo-gllimit.so" \
  --out "$out" --command "./bench.sh${*:+ $*}" "${options[@]}"

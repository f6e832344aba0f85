#!/bin/sh
# The sync check on a film of the demo: makes a 10-second film of the demo in BUILD_DIR (as
# it is) with scripts/film and runs kelvo-sync on it, which prints every offset and fails if
# a cut has no hit within 10 ms or if it finds other than the 17 cuts (sixteen pictures and
# the harbour).
# Usage: tests/film_sync.sh BUILD_DIR
set -eu
build=$1
source=$(cd "$(dirname "$0")/.." && pwd)
dir=$(mktemp -d "$build/film_sync.XXXXXX")
trap 'rm -rf "$dir"' EXIT
"$source/scripts/film" --seconds 10 --build "$build" "$dir/film.mp4"
"$build/kelvo-sync" "$dir/film.mp4" --cuts 17

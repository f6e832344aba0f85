#!/bin/sh
# The sync check on a film of the demo: runs kelvo-sync on the first 10-second film that the
# fixture film_make made, which prints every offset and fails if a cut has no hit within
# 10 ms or if it finds other than the 17 cuts (sixteen pictures and the harbour).
# Usage: tests/system/film_sync.sh BUILD_DIR
set -eu
build=$1
"$build/kelvo-sync" "$build/film-tests/first.mp4" --cuts 17

#!/usr/bin/env bash
# The check scripts/distros runs inside a distribution's root, under the headless harness
# (Xvfb, openbox, PulseAudio with ALSA's pulse plugin): unpacks the release as a user
# would, starts ./tessic from the unpacked folder, waits until its window is mapped and its
# frame loop reports a frame rate, takes a screenshot seven seconds after mapping (the
# harbour shows from about 3.8 s) and compares its sky with the sky of the package's own
# tessic.png, presses Escape and expects status 0. A screenshot that does not match is
# taken again up to twice, two seconds apart (a busy machine may be late); under an
# emulator (below) up to 3 x KELVO_CHECK_SLOWER times in all, and the time of the one that
# matched is kept (harbour).
#
#   distro-check.sh ZIP OUTDIR
#
# Prints "key value" lines to OUTDIR/result (glibc, mesa, mapped, harbour, fps, match,
# status); the screenshot and the demo's output stay in OUTDIR. Exit status 0 when the run
# passed.
#
# An executable of another machine runs on the host under an emulator, its libraries taken
# from a root of that machine (scripts/distros does so for aarch64, with the host's harness):
#   KELVO_CHECK_ROOT      that root (a tree of unpacked packages); glibc's and Mesa's
#                         versions are read from its list of unpacked packages
#   KELVO_CHECK_EMULATOR  the emulator (qemu-aarch64-static), given -L KELVO_CHECK_ROOT
#   KELVO_CHECK_LOADER    the root's dynamic loader, which lists the libraries (--list)
#   KELVO_CHECK_ARGS      the demo's arguments (--device pulse: the root's ALSA plugin)
#   KELVO_CHECK_SLOWER    how many times longer every wait is (emulation is slow)
set -uo pipefail
zip=$1 out=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# The line the demo writes once its window is mapped, read from the checkout the root sees.
# shellcheck source=constants.sh
source "$here/constants.sh"
# The sky that the screenshot is compared by.
# shellcheck source=sky.sh
source "$here/sky.sh"
kMappedLine=$(kelvo_log_line kMappedWindowLine) || { echo "distro-check: no mapped-window line" >&2; exit 1; }
readonly kMappedLine
emulated_root=${KELVO_CHECK_ROOT:-}
launcher=()
[ -z "$emulated_root" ] || launcher=("${KELVO_CHECK_EMULATOR:?}" -L "$emulated_root")
read -r -a arguments <<<"${KELVO_CHECK_ARGS:-}"
readonly kSlower=${KELVO_CHECK_SLOWER:-1}

result() { echo "$1 $2" >>"$out/result"; }
fail() {
  result problem "$*"
  exit 1
}
: >"$out/result"
if [ -z "$emulated_root" ]; then
  result glibc "$(ldd --version | head -n 1 | grep -o '[0-9.]*$')"
  result mesa "$(dpkg-query -W -f='${Version}' libgl1-mesa-dri 2>/dev/null)"
else
  unpacked() { sed -n "s/^$1_\([^_]*\)_.*/\1/p" "$emulated_root/.kelvo-root-unpacked" | sed 's/%3a/:/' | head -n 1; }
  result glibc "$(unpacked libc6)"
  result mesa "$(unpacked libgl1-mesa-dri)"
fi

home=$(mktemp -d /tmp/watcher.XXXXXX)
cd "$home" && unzip -q "$zip" && cd tessic-by-ombrel || fail "cannot unpack $zip"
if [ -z "$emulated_root" ]; then
  ldd ./tessic >"$out/ldd.txt" 2>&1
else
  "${launcher[@]}" "$emulated_root${KELVO_CHECK_LOADER:?}" --list ./tessic >"$out/ldd.txt" 2>&1
fi
if grep -q 'not found' "$out/ldd.txt" || ! grep -q 'libGL' "$out/ldd.txt"; then
  fail "libraries missing: $(grep 'not found' "$out/ldd.txt" | awk '{ print $1 }' | tr '\n' ' ')"
fi

now_ms() { local now=$EPOCHREALTIME; now=${now/[.,]/}; echo $((10#$now / 1000)); }
seconds() { awk -v ms="$1" 'BEGIN { printf "%.1f", ms / 1000 }'; }
"${launcher[@]}" ./tessic "${arguments[@]}" </dev/null >"$out/demo.log" 2>&1 &
demo=$!
started=$(now_ms)
mapped=
while kill -0 "$demo" 2>/dev/null && [ $(($(now_ms) - started)) -lt $((120000 * kSlower)) ]; do
  grep -qF -- "$kMappedLine" "$out/demo.log" && { mapped=$(now_ms); break; }
  sleep 0.05
done
[ -n "$mapped" ] || { kill "$demo" 2>/dev/null; wait "$demo"; fail "the window was never mapped (status $?)"; }
result mapped "$(seconds $((mapped - started)))"
sleep 7
best=0
harbour=
for ((attempt = 1; attempt <= 3 * kSlower; attempt++)); do
  kill -0 "$demo" 2>/dev/null || break
  import -window root "$out/shot.png" 2>/dev/null
  # The share of the sky's pixels within 8 % of the package's screenshot.
  best=$(kelvo_sky_match "$out/shot.png" tessic.png)
  kelvo_sky_matches "$best" && { harbour=$(now_ms); break; }
  sleep 2
done
result match "$best"
[ -z "$harbour" ] || result harbour "$(seconds $((harbour - started)))"
# The last frame-rate report, for the record.
result fps "$(tr '\r' '\n' <"$out/demo.log" | grep -oE '[0-9]+ fps' | tail -n 1)"
# The frame loop reports its frame rate once a second after the window maps.
grep -qE '[0-9]+ fps' "$out/demo.log" || { kill "$demo" 2>/dev/null; wait "$demo"; fail "no frame-rate report"; }
xdotool key Escape
for ((tenths = 0; tenths < 100 * kSlower; tenths++)); do
  kill -0 "$demo" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$demo" 2>/dev/null; then
  kill "$demo"
  wait "$demo"
  fail "Escape did not end the run"
fi
wait "$demo"
status=$?
result status "$status"
[ "$status" -eq 0 ] || fail "Escape ended the run with status $status"
kelvo_sky_matches "$best" || fail "the screenshot's sky matches the harbour's by $best only"
rm -rf "$home"
exit 0

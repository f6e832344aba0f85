#!/usr/bin/env bash
# The check scripts/distros runs inside a distribution's root, under the headless harness
# (Xvfb, openbox, PulseAudio with ALSA's pulse plugin): unpacks the release as a user
# would, starts ./tessic from the unpacked folder, waits until its window is mapped and its
# frame loop reports a frame rate, takes a screenshot seven seconds after mapping (the
# harbour shows from about 3.8 s) and compares its sky with the sky of the package's own
# tessic.png, presses Escape and expects status 0. A screenshot that does not match is
# taken again up to twice, two seconds apart (a busy machine may be late).
#
#   distro-check.sh ZIP OUTDIR
#
# Prints "key value" lines to OUTDIR/result (glibc, mesa, mapped, match, status); the
# screenshot and the demo's output stay in OUTDIR. Exit status 0 when the run passed.
set -uo pipefail
zip=$1 out=$2
# The line the demo writes once its window is mapped, read from the checkout the root sees.
source "$(dirname "${BASH_SOURCE[0]}")/constants.sh"
kMappedLine=$(kelvo_log_line kMappedWindowLine) || { echo "distro-check: no mapped-window line" >&2; exit 1; }
readonly kMappedLine
# The sky between the lighthouse and the sun, above the town: still in every frame of the
# harbour (the boat, the sun, the water and the greeting move elsewhere).
readonly kSky=1000x270+450+60
readonly kNeededMatch=0.90

result() { echo "$1 $2" >>"$out/result"; }
fail() {
  result problem "$*"
  exit 1
}
: >"$out/result"
result glibc "$(ldd --version | head -n 1 | grep -o '[0-9.]*$')"
result mesa "$(dpkg-query -W -f='${Version}' libgl1-mesa-dri 2>/dev/null)"

home=$(mktemp -d /tmp/watcher.XXXXXX)
cd "$home" && unzip -q "$zip" && cd tessic-by-ombrel || fail "cannot unpack $zip"
if ldd ./tessic | grep -q 'not found'; then
  ldd ./tessic | grep 'not found' >"$out/ldd.txt"
  fail "libraries missing: $(awk '{ print $1 }' "$out/ldd.txt" | tr '\n' ' ')"
fi

now_ms() { local now=$EPOCHREALTIME; now=${now/[.,]/}; echo $((10#$now / 1000)); }
./tessic </dev/null >"$out/demo.log" 2>&1 &
demo=$!
started=$(now_ms)
mapped=
while kill -0 "$demo" 2>/dev/null && [ $(($(now_ms) - started)) -lt 120000 ]; do
  grep -qF -- "$kMappedLine" "$out/demo.log" && { mapped=$(now_ms); break; }
  sleep 0.05
done
[ -n "$mapped" ] || { kill "$demo" 2>/dev/null; wait "$demo"; fail "the window was never mapped (status $?)"; }
result mapped "$(awk -v ms=$((mapped - started)) 'BEGIN { printf "%.1f", ms / 1000 }')"
sleep 7
best=0
for attempt in 1 2 3; do
  kill -0 "$demo" 2>/dev/null || break
  import -window root "$out/shot.png" 2>/dev/null
  # The share of the sky's pixels within 8 % of the package's screenshot.
  convert "$out/shot.png" -crop "$kSky" +repage "$home/sky.png" 2>/dev/null
  convert tessic.png -crop "$kSky" +repage "$home/sky-package.png" 2>/dev/null
  differ=$(compare -metric AE -fuzz 8% "$home/sky.png" "$home/sky-package.png" null: 2>&1 | grep -o '^[0-9.e+]*')
  best=$(awk -v d="${differ:-270000}" 'BEGIN { printf "%.3f", 1 - d / 270000 }')
  awk -v m="$best" -v n="$kNeededMatch" 'BEGIN { exit !(m >= n) }' && break
  sleep 2
done
result match "$best"
# The frame loop reports its frame rate once a second after the window maps.
grep -qE '[0-9]+ fps' "$out/demo.log" || { kill "$demo" 2>/dev/null; wait "$demo"; fail "no frame-rate report"; }
xdotool key Escape
for ((tenths = 0; tenths < 100; tenths++)); do
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
awk -v m="$best" -v n="$kNeededMatch" 'BEGIN { exit !(m >= n) }' || fail "the screenshot's sky matches the harbour's by $best only"
rm -rf "$home"
exit 0

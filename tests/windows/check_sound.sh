#!/usr/bin/env bash
# Whether a Windows program's sound under Wine reaches the harness's sound server: records
# the harness's sink (as scripts/headless --record does, with parecord on its monitor)
# while kelvo-tone-probe.exe plays 1.5 s of a 440 Hz tone through scripts/wine, then counts
# the periods of that pitch (within 5 %) in the recording: four fifths of them must be
# there. Silence, noise or the tone at another speed (a wrong rate on the way) fail.
#
#   check_sound.sh PROBE.exe        (inside scripts/headless)
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/jobs.sh"
readonly kMilliseconds=1500 kRate=44100 kFrequency=440

fail() { echo "check_sound: $*" >&2; exit 1; }
[ $# -eq 1 ] || { echo "usage: $0 PROBE.exe" >&2; exit 2; }
[ -n "${KELVO_SINK:-}" ] && [ -n "${PULSE_SERVER:-}" ] || fail "needs the sound server of scripts/headless"

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvo-check-sound.XXXXXX")
recorder=
trap 'stop_process "$recorder" INT 5; rm -rf "$work"' EXIT
start_job parecord --device="$KELVO_SINK.monitor" --file-format=wav --format=s16le --rate=$kRate \
  --channels=2 --latency-msec=50 "$work/audio.wav" </dev/null >"$work/recorder.log" 2>&1
recorder=$started_pid
for ((tenths = 0; tenths < 50; tenths++)); do
  [ "$(stat -c %s "$work/audio.wav" 2>/dev/null || echo 0)" -gt 44 ] && break
  running "$recorder" || { cat "$work/recorder.log" >&2; fail "the recorder failed"; }
  sleep 0.1
done

# Only through winepulse: Wine's ALSA and OSS drivers are off for the probe, so that the
# sound cannot reach the sink through ALSA's PipeWire plugin instead.
WINEDLLOVERRIDES="${WINEDLLOVERRIDES:+$WINEDLLOVERRIDES;}winealsa.drv,wineoss.drv=d" \
  "$root/scripts/wine" "$1" "$kMilliseconds" || fail "the probe failed (status $?)"
sleep 0.5
stop_process "$recorder" INT 5
recorder=

# The samples after the "data" chunk's header, one frame (left, right) a line.
data=$(grep -obUaF data "$work/audio.wav" | head -n 1 | cut -d: -f1)
[ -n "$data" ] || fail "the recording has no data chunk"
od -An -v -t d2 -w4 -j $((data + 8)) "$work/audio.wav" >"$work/frames"
# The periods of the left channel: the frames between upward crossings (from below -1000 to
# above 1000, so that noise near zero does not count). A period of the probe's pitch is
# within 5 % of RATE / FREQUENCY frames; a gap (the machine too busy for a moment) costs one
# period and no more.
period_tenths=$((kRate * 10 / kFrequency))
read -r periods right < <(awk -v low=$((period_tenths * 95 / 1000)) -v high=$((period_tenths * 105 / 1000 + 1)) '
  { x = $1 }
  x < -1000 { below = 1 }
  x > 1000 && below {
    below = 0
    if (previous) { periods++; if (NR - previous >= low && NR - previous <= high) right++ }
    previous = NR
  }
  END { print periods + 0, right + 0 }' "$work/frames")
expected=$((kFrequency * kMilliseconds / 1000))
echo "check_sound: $right of $periods periods in the recording have the tone's pitch (played: $kMilliseconds ms of $kFrequency Hz, $expected periods)"
[ "$right" -ge $((expected * 8 / 10)) ] ||
  fail "the tone did not reach the sink whole at its pitch: $right periods of $expected"

#!/usr/bin/env bash
# Whether the WASAPI backend under Wine sees its output go away and plays again once it is
# back: kelvo-pcm-return-probe.exe plays to the harness's sound server, which is killed as a
# crash does (SIGUSR1 to scripts/headless) once the probe plays and started again (SIGUSR2)
# once the probe says the output is gone; the probe must then open it again and play.
#
#   check_device_return.sh PROBE.exe        (inside scripts/headless)
set -uo pipefail
root=$(cd "$(dirname "$0")/../../.." && pwd)
source "$root/scripts/lib/jobs.sh"

fail() { echo "check_device_return: $*" >&2; exit 1; }
[ $# -eq 1 ] || { echo "usage: $0 PROBE.exe" >&2; exit 2; }
[ -n "${KELVO_HEADLESS_PID:-}" ] || fail "needs scripts/headless (KELVO_HEADLESS_PID)"

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvo-check-return.XXXXXX")
probe=
trap 'stop_process "$probe" TERM 5; rm -rf "$work"' EXIT
start_job "$root/scripts/wine" "$1" </dev/null >"$work/probe.log" 2>&1
probe=$started_pid

# Waits up to a minute for a line of the probe (the harness takes a few seconds to stop the
# sound server's helpers and as many to start it all again).
await() {
  for ((tenths = 0; tenths < 600; tenths++)); do
    grep -q "^$1" "$work/probe.log" && return 0
    running "$probe" || break
    sleep 0.1
  done
  # The probe may have said it and ended between the last look and the check that it runs.
  grep -q "^$1" "$work/probe.log" && return 0
  cat "$work/probe.log" >&2
  fail "the probe did not say \"$1\""
}
await playing
sleep 0.5
kill -USR1 "$KELVO_HEADLESS_PID"
await gone
# The harness is still stopping the server's helpers when the probe sees it gone, and a
# signal that comes meanwhile can be lost: the start is asked for once that is over.
sleep 3
kill -USR2 "$KELVO_HEADLESS_PID"
await back
wait "$probe"
status=$?
probe=
cat "$work/probe.log"
[ "$status" -eq 0 ] || fail "the probe ended with status $status"

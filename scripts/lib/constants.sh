# The demo's figures that the scripts need, taken from where the demo's own build takes them
# rather than written again here (sourced by scripts/headless, scripts/desktops, scripts/film,
# scripts/release and scripts/lib/distro-check.sh).

# kelvo_log_line NAME [SYSTEM]: the log line NAME (for example kMappedWindowLine) of the
# system's backends (linux unless named), from platform/SYSTEM/loglines.txt, the file the
# build makes the demo's header of; fails when the file names no such line. Read from the
# source, so the harness needs no build to know what to wait for.
kelvo_log_line() {
  local root line
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  [[ $1 =~ ^k[A-Za-z0-9]+$ ]] || return 1
  line=$(sed -n "s/^$1=//p" "$root/platform/${2:-linux}/loglines.txt" 2>/dev/null | head -n 1)
  [ -n "$line" ] || return 1
  printf '%s\n' "$line"
}

# kelvo_fact NAME: the shared fact NAME (for example kDesignWidthPixels) from base/facts.txt,
# the file the build makes the demo's header base/facts.hpp of; fails when the file names no
# such fact. Read from the source, so scripts need no build to know it.
kelvo_fact() {
  local root value
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  [[ $1 =~ ^k[A-Za-z0-9]+$ ]] || return 1
  value=$(sed -n "s/^$1=//p" "$root/base/facts.txt" 2>/dev/null | head -n 1)
  [ -n "$value" ] || return 1
  printf '%s\n' "$value"
}

# kelvo_design_size: the design screen as WIDTHxHEIGHT (for Xvfb, ffmpeg and the checks).
kelvo_design_size() {
  local width height
  width=$(kelvo_fact kDesignWidthPixels) && height=$(kelvo_fact kDesignHeightPixels) || return 1
  printf '%sx%s\n' "$width" "$height"
}

# kelvo_run_constants BUILD_DIR: sets run_seconds, frames_per_second, samples_per_frame
# and mapped_window_line from BUILD_DIR/kelvo-schedule --print-constants; fails when the
# program is missing or prints something else.
kelvo_run_constants() {
  local printed name value
  printed=$("$1/kelvo-schedule" --print-constants) || return 1
  while IFS='=' read -r name value; do
    case "$name" in
      run_seconds|frames_per_second|samples_per_frame)
        [[ $value =~ ^[0-9]+$ ]] || return 1
        printf -v "$name" '%s' "$value" ;;
      mapped_window_line) value=${value#\'}; printf -v "$name" '%s' "${value%\'}" ;;
      *) return 1 ;;
    esac
  done <<<"$printed"
  [ -n "${run_seconds:-}" ] && [ -n "${frames_per_second:-}" ] && [ -n "${samples_per_frame:-}" ]
}

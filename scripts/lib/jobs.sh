# Job control for the scripts that start servers and programs (sourced by scripts/headless,
# scripts/desktops and scripts/film): each job runs in a process group of its own and is
# stopped by its process id, group and all, so nothing of the user's is ever touched and
# nothing of the script's is left behind.

# Starts a command in the background in a process group of its own, so that Ctrl-C on the
# terminal reaches only the calling script, which then stops everything in order. The new
# job's id lands in started_pid.
start_job() {
  set -m
  "$@" &
  started_pid=$!
  set +m
}

# True while the process has not ended (a zombie waiting to be reaped counts as ended).
running() {
  kill -0 "$1" 2>/dev/null && [ "$(cut -d' ' -f3 "/proc/$1/stat" 2>/dev/null)" != Z ]
}

# stop_process PID [SIGNAL [GRACE]]: sends the signal (TERM) to a job started by start_job
# (to its whole process group), waits up to GRACE seconds (5) for its leader to end, then
# kills the group hard and reaps the leader. An empty PID does nothing.
stop_process() {
  local pid=$1 signal=${2:-TERM} grace=${3:-5} tenths
  [ -n "$pid" ] || return 0
  if running "$pid"; then
    kill "-$signal" -- "-$pid" 2>/dev/null || kill "-$signal" "$pid" 2>/dev/null
    for ((tenths = 0; tenths < grace * 10; tenths++)); do
      running "$pid" || break
      sleep 0.1
    done
  fi
  # Whatever is left of the group (helpers the job started) goes too.
  kill -KILL -- "-$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  return 0
}

# The window manager counts as up once the root window names its check window and that
# window names itself (the EWMH handshake of a running manager).
wm_is_up() {
  local check self
  check=$(xprop -root -notype _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -o '0x[0-9a-fA-F]*$') || return 1
  self=$(xprop -id "$check" -notype _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -o '0x[0-9a-fA-F]*$') || return 1
  [ "$check" = "$self" ]
}

# Microseconds since the epoch.
now_micros() { local now=$EPOCHREALTIME; echo $((10#${now/[.,]/})); }

# The sound servers of scripts/headless: a private PulseAudio or PipeWire with one null sink
# that plays at real-time speed, or the server of an outer run. Sourced by scripts/headless,
# whose bookkeeping (work, the *_pid variables, start_job, say, fail, show_log) it uses;
# start_sound is the entry point.

# PulseAudio. A private runtime, state and config folder keeps the user's and the
# system's PulseAudio settings out; -n skips the default start-up script, so the server has
# exactly one sink (a null sink that consumes samples at real-time speed) and one socket.
pulse_reachable() {
  timeout 5 pactl info >/dev/null 2>&1
}

start_pulse() {
  local tenths dir="$work/pulse"
  mkdir -p "$dir/runtime" "$dir/state" "$dir/config"
  chmod 700 "$dir/runtime"
  cat >"$dir/server.pa" <<EOF
load-module module-null-sink sink_name=$kSinkName rate=44100 channels=2 format=s16le sink_properties=device.description=kelvo-null-sink
load-module module-native-protocol-unix socket=$dir/runtime/native auth-anonymous=1
set-default-sink $kSinkName
set-default-source $kSinkName.monitor
EOF
  cat >"$dir/client.conf" <<EOF
autospawn = no
cookie-file = $dir/cookie
EOF
  # DISPLAY is hidden and the session bus disabled so that the server does not try to
  # launch a D-Bus daemon of its own.
  start_job env -u DISPLAY \
    DBUS_SESSION_BUS_ADDRESS=disabled: \
    XDG_RUNTIME_DIR="$dir/runtime" PULSE_RUNTIME_PATH="$dir/runtime" \
    PULSE_STATE_PATH="$dir/state" XDG_CONFIG_HOME="$dir/config" \
    PULSE_CLIENTCONFIG="$dir/client.conf" PULSE_COOKIE="$dir/cookie" \
    pulseaudio -n -F "$dir/server.pa" --daemonize=no --use-pid-file=no --system=no \
      --exit-idle-time=-1 --realtime=no --high-priority=no --log-target=stderr \
      </dev/null >>"$work/pulse.log" 2>&1
  pulse_pid=$started_pid
  export PULSE_SERVER="unix:$dir/runtime/native"
  export PULSE_CLIENTCONFIG="$dir/client.conf"
  export PULSE_COOKIE="$dir/cookie"
  export KELVO_SINK=$kSinkName
  for ((tenths = 0; tenths < 200; tenths++)); do
    pulse_reachable && { start_latency_keeper; return 0; }
    kill -0 "$pulse_pid" 2>/dev/null || break
    sleep 0.1
  done
  show_log "$work/pulse.log"
  fail "pulseaudio did not start"
}

# The null sink renders in blocks of up to two seconds while nobody asks for less, and it
# notices a new stream's lower latency only at the end of the block it is in. So a stream
# that connects may wait up to two seconds for its first samples. A recording stream with
# a short latency that stays connected keeps the sink in short blocks all the time. The
# sink is ready once that stream has had its first samples.
run_keeper() {
  parec --device="$kSinkName.monitor" --latency-msec=20 --format=s16le --rate=44100 --channels=2 |
    { head -c 4 >"$work/keeper.ready"; exec cat >/dev/null; }
}

start_latency_keeper() {
  local tenths
  start_job run_keeper </dev/null 2>>"$work/pulse.log"
  keeper_pid=$started_pid
  for ((tenths = 0; tenths < 100; tenths++)); do
    [ -s "$work/keeper.ready" ] && return 0
    sleep 0.05
  done
  say "the sound server's sink did not start rendering; recordings may start late"
}

use_or_start_pulse() {
  if [ "${KELVO_SOUND_SERVER:-pulse}" = pulse ] && [ -n "${PULSE_SERVER:-}" ] && pulse_reachable; then
    if [ -z "${KELVO_SINK:-}" ]; then
      KELVO_SINK=$(timeout 5 pactl get-default-sink 2>/dev/null)
      export KELVO_SINK
    fi
    export KELVO_SOUND_SERVER=pulse
    return 0
  fi
  unset PIPEWIRE_RUNTIME_DIR
  export KELVO_SOUND_SERVER=pulse
  start_pulse
}

# PipeWire: the server with the null sink as its only sink, at 44100 frames a second so the
# demo's song is resampled neither on its way in nor on its way to a recording; the graph is
# driven by the server's timer-driven dummy driver, that is at real-time speed. The graph
# keeps one cycle of 1024 frames (23 ms) whoever joins: a short cycle asked for by a
# recorder would leave a busy machine too little time per cycle, and a cycle that changes
# when a stream joins can lose a block of samples. wireplumber
# links ALSA's stream to the default sink, as on a desktop, and needs a session bus: a
# private dbus-daemon. Recordings go through PipeWire's PulseAudio server (pipewire-pulse):
# it takes each cycle's samples from the sink's monitor in its real-time thread and keeps
# them until the recorder reads them, so a recorder that a busy machine holds up for a few
# cycles loses nothing (pw-record, whose samples wait in a few buffers for its main thread
# of ordinary priority, loses whole cycles then). Everything lives in the script's
# temporary folder, so the user's own PipeWire (its socket, its settings, its state) is not
# touched.
pipewire_reachable() {
  timeout 5 pw-cli info 0 >/dev/null 2>&1
}

# True once wireplumber has made the null sink the default one.
pipewire_sink_is_default() {
  timeout 5 pw-metadata 0 default.audio.sink 2>/dev/null | grep -q "\"name\":\"$kSinkName\""
}

start_pipewire() {
  local tenths dir="$work/pipewire"
  mkdir -p "$dir/runtime" "$dir/config/pipewire/pipewire.conf.d" "$dir/config/wireplumber/bluetooth.lua.d" \
    "$dir/state" "$dir/data"
  chmod 700 "$dir/runtime"
  # No Bluetooth monitor: the harness has no Bluetooth devices, and the monitor loads
  # wireplumber's logind module, which makes wireplumber quit at start where systemd-logind
  # does not run (a container, a chroot, a server without a seat). The file sorts after the
  # packaged Bluetooth settings and before the file that enables the monitor.
  printf 'bluez_monitor.enabled = false\n' >"$dir/config/wireplumber/bluetooth.lua.d/60-kelvo-no-bluetooth.lua"
  cat >"$dir/config/pipewire/pipewire.conf.d/kelvo.conf" <<CONF
context.properties = {
  default.clock.rate          = 44100
  default.clock.allowed-rates = [ 44100 ]
  default.clock.quantum       = 1024
  default.clock.min-quantum   = 1024
  default.clock.max-quantum   = 1024
}
context.objects = [
  { factory = adapter
    args = {
      factory.name     = support.null-audio-sink
      node.name        = $kSinkName
      node.description = "kelvo-null-sink"
      media.class      = Audio/Sink
      audio.position   = [ FL FR ]
      audio.rate       = 44100
      priority.session = 2000
      monitor.channel-volumes = true
    }
  }
]
CONF
  local env=(env -u DISPLAY -u PIPEWIRE_REMOTE -u PULSE_SERVER XDG_RUNTIME_DIR="$dir/runtime"
             PIPEWIRE_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/config" XDG_STATE_HOME="$dir/state"
             XDG_DATA_HOME="$dir/data" DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/runtime/bus")
  start_job "${env[@]}" dbus-daemon --session --nofork --nopidfile --address="unix:path=$dir/runtime/bus" \
    </dev/null >"$work/dbus.log" 2>&1
  dbus_pid=$started_pid
  for ((tenths = 0; tenths < 100; tenths++)); do
    [ -S "$dir/runtime/bus" ] && break
    kill -0 "$dbus_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -S "$dir/runtime/bus" ] || { show_log "$work/dbus.log"; fail "dbus-daemon did not start"; }
  export PIPEWIRE_RUNTIME_DIR="$dir/runtime"
  unset PIPEWIRE_REMOTE PULSE_SERVER
  export KELVO_SINK=$kSinkName KELVO_SOUND_SERVER=pipewire
  start_pipewire_servers
}

# The server, the session manager and the PulseAudio server, on the session bus and in the
# folders start_pipewire made (again after a crash_sound).
start_pipewire_servers() {
  local tenths dir="$work/pipewire"
  local env=(env -u DISPLAY -u PIPEWIRE_REMOTE -u PULSE_SERVER XDG_RUNTIME_DIR="$dir/runtime"
             PIPEWIRE_RUNTIME_DIR="$dir/runtime" XDG_CONFIG_HOME="$dir/config" XDG_STATE_HOME="$dir/state"
             XDG_DATA_HOME="$dir/data" DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/runtime/bus")
  start_job "${env[@]}" pipewire </dev/null >>"$work/pipewire.log" 2>&1
  pipewire_pid=$started_pid
  for ((tenths = 0; tenths < 200; tenths++)); do
    [ -S "$dir/runtime/pipewire-0" ] && pipewire_reachable && break
    kill -0 "$pipewire_pid" 2>/dev/null || break
    sleep 0.1
  done
  pipewire_reachable || { show_log "$work/pipewire.log"; fail "pipewire did not start"; }
  start_job "${env[@]}" wireplumber </dev/null >>"$work/wireplumber.log" 2>&1
  wireplumber_pid=$started_pid
  for ((tenths = 0; tenths < 200; tenths++)); do
    pipewire_sink_is_default && break
    kill -0 "$wireplumber_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! pipewire_sink_is_default; then
    show_log "$work/wireplumber.log"
    fail "wireplumber did not make the null sink the default sink"
  fi
  cat >"$dir/client.conf" <<EOF
autospawn = no
cookie-file = $dir/cookie
EOF
  start_job "${env[@]}" pipewire-pulse </dev/null >>"$work/pipewire-pulse.log" 2>&1
  pipewire_pulse_pid=$started_pid
  export PULSE_SERVER="unix:$dir/runtime/pulse/native"
  export PULSE_CLIENTCONFIG="$dir/client.conf"
  export PULSE_COOKIE="$dir/cookie"
  for ((tenths = 0; tenths < 200; tenths++)); do
    [ -S "$dir/runtime/pulse/native" ] && pulse_reachable && return 0
    kill -0 "$pipewire_pulse_pid" 2>/dev/null || break
    sleep 0.1
  done
  show_log "$work/pipewire-pulse.log"
  fail "pipewire-pulse did not start"
}

use_or_start_pipewire() {
  if [ "${KELVO_SOUND_SERVER:-}" = pipewire ] && [ -n "${PIPEWIRE_RUNTIME_DIR:-}" ] && [ -n "${KELVO_SINK:-}" ] &&
     pipewire_reachable && pulse_reachable; then
    return 0
  fi
  start_pipewire
}

# SIGUSR1: the sound server this script started dies as in a crash; what depends on it
# is stopped by process id. SIGUSR2: it starts again.
crash_sound() {
  if [ -n "$pipewire_pid" ]; then
    kill -KILL "$pipewire_pid" 2>/dev/null
    wait "$pipewire_pid" 2>/dev/null
    stop_process "$pipewire_pulse_pid" TERM 5
    stop_process "$wireplumber_pid" TERM 5
    pipewire_pid= pipewire_pulse_pid= wireplumber_pid=
    say "sound server killed"
  elif [ -n "$pulse_pid" ]; then
    kill -KILL "$pulse_pid" 2>/dev/null
    wait "$pulse_pid" 2>/dev/null
    stop_process "$keeper_pid" TERM 5
    pulse_pid= keeper_pid=
    say "sound server killed"
  fi
}

restart_sound() {
  case "${sound_started:-}" in
    pipewire) [ -n "$pipewire_pid" ] || { start_pipewire_servers; say "sound server started again"; } ;;
    pulse) [ -n "$pulse_pid" ] || { rm -f "$work/keeper.ready"; start_pulse; say "sound server started again"; } ;;
  esac
}

# ALSA's default device goes to PipeWire where PipeWire's ALSA plugin (pipewire-alsa) says so.
alsa_default_is_pipewire() {
  grep -qs 'type[[:space:]]*pipewire' /etc/alsa/conf.d/99-pipewire-default.conf \
    /usr/share/alsa/alsa.conf.d/99-pipewire-default.conf
}

have_all() {
  local name
  for name in "$@"; do command -v "$name" >/dev/null 2>&1 || return 1; done
}

pipewire_usable() {
  have_all pipewire wireplumber pipewire-pulse pw-cli pw-metadata pactl parecord dbus-daemon && alsa_default_is_pipewire
}
pulse_usable() { have_all pulseaudio pactl parec parecord; }

# Picks the sound server (see --sound) and starts it, or uses the one of an outer run.
start_sound() {
  local chosen=$sound
  if [ "$chosen" = auto ]; then
    if [ -n "${KELVO_SOUND_SERVER:-}" ]; then
      chosen=$KELVO_SOUND_SERVER
    elif pipewire_usable; then
      chosen=pipewire
    elif pulse_usable; then
      chosen=pulse
    else
      fail "no sound server: neither PipeWire (with pipewire-alsa) nor PulseAudio is installed; run scripts/install-deps harness"
    fi
  elif [ "${KELVO_SOUND_SERVER:-$chosen}" != "$chosen" ]; then
    # Another kind than an outer run's: this run starts one of its own (an outer PipeWire's
    # PulseAudio server does not count as PulseAudio).
    unset KELVO_SINK KELVO_SOUND_SERVER PULSE_SERVER PIPEWIRE_RUNTIME_DIR
  fi
  case "$chosen" in
    pipewire)
      pipewire_usable || fail "the PipeWire harness needs pipewire, wireplumber, pipewire-bin, pipewire-pulse, pulseaudio-utils, dbus-daemon and pipewire-alsa (ALSA's default device through PipeWire); run scripts/install-deps --sound pipewire harness"
      use_or_start_pipewire ;;
    pulse)
      pulse_usable || fail "the PulseAudio harness needs pulseaudio, pulseaudio-utils and libasound2-plugins; run scripts/install-deps --sound pulse harness"
      use_or_start_pulse ;;
  esac
}

# Wine for the Windows programs' runs (sourced by scripts/wine and by the Windows tests):
# a fresh Wine prefix in a private temporary folder, programs run in it, and afterwards
# the prefix gone with every process that ran in it (its wineserver included), so that
# nothing of one run reaches the next and nothing is left behind.
#
#   kelvo_wine_prefix_new     makes the prefix: a private copy of one booted once for this
#                             Wine and user (kept in $KELVO_CACHE/wine); exports WINEPREFIX,
#                             KELVO_WINE_DIR (the private folder it lives in), WINEDEBUG,
#                             WINEDLLOVERRIDES and WINEARCH; sets kelvo_wine_boot_seconds;
#                             unsets TMPDIR (the private folder is made where it named):
#                             Debian 13's Wine 10 aborts at start-up ("free(): invalid
#                             pointer") whenever TMPDIR is set.
#   kelvo_wine_run PROGRAM [ARG...]
#                             runs a Windows program in it; the status is the program's.
#   kelvo_wine_prefix_remove  stops the prefix's wineserver and everything that runs in the
#                             prefix, then removes the folder; does nothing without one.
#   kelvo_wine_processes      the process ids of what runs in the current prefix.
#
# The prefix has no desktop integration (winemenubuilder is off: no menu entries or file
# associations for the user's desktop) and asks for no Mono or Gecko (mscoree and mshtml
# are disabled, so no download prompt); Wine's debug channels are silent. Its wineserver
# stays up for half a minute after the last program ended (rather than Debian's default of
# none), so that programs run one after another do not each boot the prefix's services
# again; even a caller killed before it could remove the prefix leaves no Wine process
# running for longer than that. Wine's sound goes through winepulse to the
# PulseAudio server that PULSE_SERVER names (scripts/headless exports it, for PipeWire too).

readonly kKelvoWineOverrides="mscoree,mshtml=;winemenubuilder.exe=d"
readonly kKelvoWineLingerSeconds=30

# Seconds (with milliseconds) since START, a value of EPOCHREALTIME.
kelvo_wine_seconds_since() {
  local now=$EPOCHREALTIME
  awk -v a="$1" -v b="$now" 'BEGIN { printf "%.1f", b - a }'
}

source "$(dirname "${BASH_SOURCE[0]}")/cache.sh"

# The cache folder of booted prefixes.
kelvo_wine_cache() {
  echo "$(kelvo_cache_dir)/wine"
}

# Prints the folder of a prefix booted once for this Wine, this user and these settings,
# booting it when missing (wineboot writes some 700 MB and takes 10 to 40 s; a copy of the
# result takes a second). It is booted aside and renamed when complete, after its server
# has ended and written the registry; older ones go.
kelvo_wine_template() {
  local cache key dir
  cache=$(kelvo_wine_cache)
  key=$( { wine --version; id -un; echo "$kKelvoWineOverrides"; } | sha256sum | cut -c1-16)
  dir=$cache/prefix-$key
  [ -f "$dir/.kelvo-complete" ] && { echo "$dir"; return 0; }
  mkdir -p "$cache" || return 1
  (
    flock 9
    [ -f "$dir/.kelvo-complete" ] && exit 0
    boot=$(mktemp -d "$cache/.boot.XXXXXX") || exit 1
    trap 'WINEPREFIX=$boot/prefix wineserver -k 2>/dev/null; rm -rf "$boot"' EXIT
    if ! WINEPREFIX=$boot/prefix DISPLAY= wine wineboot --init </dev/null >"$boot/boot.log" 2>&1 ||
       ! WINEPREFIX=$boot/prefix wineserver -w ||
       [ ! -d "$boot/prefix/drive_c/windows/system32" ]; then
      tail -n 5 "$boot/boot.log" >&2
      echo "wine: the prefix could not be booted" >&2
      exit 1
    fi
    touch "$boot/prefix/.kelvo-complete"
    rm -rf "$cache"/prefix-*
    mv "$boot/prefix" "$dir"
  ) 9>"$cache/lock" || return 1
  echo "$dir"
}

kelvo_wine_prefix_new() {
  local started=$EPOCHREALTIME template temporary=${TMPDIR:-/tmp}
  unset TMPDIR
  command -v wine >/dev/null && command -v wineserver >/dev/null ||
    { echo "wine: Wine is missing; run scripts/install-deps windows" >&2; return 1; }
  export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES=$kKelvoWineOverrides
  unset WINEPREFIX
  template=$(kelvo_wine_template) || return 1
  KELVO_WINE_DIR=$(mktemp -d "$temporary/kelvo-wine.XXXXXX") || return 1
  chmod 700 "$KELVO_WINE_DIR"
  export KELVO_WINE_DIR WINEPREFIX=$KELVO_WINE_DIR/prefix
  # A copy of its own: nothing a program does in it reaches the booted one or another run.
  if ! cp -a "$template" "$WINEPREFIX" || ! rm "$WINEPREFIX/.kelvo-complete"; then
    echo "wine: the booted prefix could not be copied" >&2
    kelvo_wine_prefix_remove
    return 1
  fi
  # The server first, lingering after its last program, so that the services stay up for
  # the programs that follow; then the services, started by wineboot. Neither keeps a
  # descriptor of the caller's: services started by the first program would inherit its
  # output, and a reader of that pipe (CTest) would wait for them to end.
  wineserver -p"$kKelvoWineLingerSeconds" </dev/null >"$KELVO_WINE_DIR/server.log" 2>&1 || {
    cat "$KELVO_WINE_DIR/server.log" >&2
    kelvo_wine_prefix_remove
    return 1
  }
  if ! wine wineboot </dev/null >"$KELVO_WINE_DIR/boot.log" 2>&1; then
    tail -n 5 "$KELVO_WINE_DIR/boot.log" >&2
    echo "wine: the prefix's services did not start" >&2
    kelvo_wine_prefix_remove
    return 1
  fi
  kelvo_wine_boot_seconds=$(kelvo_wine_seconds_since "$started")
}

kelvo_wine_run() {
  [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX" ] || { echo "wine: no prefix (kelvo_wine_prefix_new)" >&2; return 125; }
  wine "$@"
}

# Every Wine process whose environment names this prefix: the server, the services and the
# programs (Wine passes WINEPREFIX on to all of them; the scripts around them, which have
# it too, are no Wine executables). The environments are read with bash's own mapfile and
# only the few processes that name the prefix cost a readlink: starting a process per
# process on the machine would take seconds on a busy one.
kelvo_wine_processes() {
  local entry pid exe vars var found
  [ -n "${WINEPREFIX:-}" ] || return 0
  for entry in /proc/[0-9]*/environ; do
    pid=${entry#/proc/}
    pid=${pid%/environ}
    { mapfile -d '' -t vars <"$entry"; } 2>/dev/null || continue
    found=
    for var in "${vars[@]}"; do
      [ "$var" = "WINEPREFIX=$WINEPREFIX" ] && { found=1; break; }
    done
    [ -n "$found" ] || continue
    exe=$(readlink "/proc/$pid/exe" 2>/dev/null) || continue
    case "${exe##*/}" in wine*) echo "$pid" ;; esac
  done
  return 0
}

kelvo_wine_prefix_remove() {
  local tenths pids
  [ -n "${KELVO_WINE_DIR:-}" ] || return 0
  if [ -d "$WINEPREFIX" ]; then
    # -k ends every process of the prefix and then the server itself.
    wineserver -k 2>/dev/null
    for ((tenths = 0; tenths < 100; tenths++)); do
      pids=$(kelvo_wine_processes)
      [ -z "$pids" ] && break
      sleep 0.1
    done
    if [ -n "$pids" ]; then
      echo "wine: killing what is left of the prefix: $(echo $pids)" >&2
      # shellcheck disable=SC2086
      kill -KILL $pids 2>/dev/null
    fi
  fi
  rm -rf "$KELVO_WINE_DIR"
  unset KELVO_WINE_DIR WINEPREFIX
}

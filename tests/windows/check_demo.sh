#!/usr/bin/env bash
# tessic.exe whole under Wine in the harness (Xvfb, openbox, the machine's sound server),
# each time from a copy in a fresh folder, as a watcher starts it. One check a call:
#
#   screen     its window covers the screen, the pointer is hidden over it, its standard
#              output has the mapped-window line, a screenshot once the harbour shows has
#              the sky of the package's tessic.png (frame kShotFrame of scripts/release, made
#              here the same way: the host's Linux program on the film's clock), Escape ends
#              it with 0 and nothing is left in its folder.
#   minimised  started as a shortcut set to "Run: Minimized" starts it (kelvo-start-minimised.exe
#              beside TESSIC.exe): its window is shown all the same and covers the screen,
#              Escape reaches it and ends it with 0; Wine's own trace shows the display kept
#              awake from the mapping and released at the end, on one thread.
#   close      the window manager's close (Alt-F4 in openbox: WM_DELETE_WINDOW, which Wine
#              turns into WM_CLOSE) ends it with 0 and nothing is left in its folder.
#   read-only  run as "nobody" from a folder only root may write (0555), with a folder in the
#              way of the font's name in that user's temporary folder: the song goes to that
#              temporary folder, the font to a private folder made inside it, each after one
#              WARNING line naming both, the demo runs, Escape ends it with 0, and nothing is
#              left in either folder (the private folder is gone).
#   song       the screen's middle and the harness's sink recorded together from before the
#              start into the harbour, measured by the host's kelvo-sync: the pictures' cuts
#              and the song's hits paired (at least kSongPairedCuts of them) at a median
#              offset within kSongOffsetMs. The pictures follow the demo's clock of the song
#              heard, so the song reaches the sink from the place that clock says; a song
#              heard late or early by more than the limit, at another speed or not at all
#              fails. (A single cut's offset varies by up to 50 ms from the grabber's timing,
#              the Linux program's too; their median does not.)
#   damaged    a copy whose FONT entry is 4096 bytes of 0x5A ends with the same last line
#              (with its own path) and status as the host's Linux program damaged the same.
#
#   check_demo.sh CHECK TESSIC.exe HOST_BUILD
#
# HOST_BUILD is the Linux build whose store tessic.exe carries (kelvo, kelvo-res,
# libkelvo-film.so). Run inside scripts/headless and a Wine session of scripts/lib/wine.sh
# (scripts/windows-test makes both); the read-only check makes a prefix of that user's own.
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
source "$root/scripts/lib/jobs.sh"
source "$root/scripts/lib/constants.sh"
source "$root/scripts/lib/sky.sh"

kFontFile=$(kelvo_fact kTemporaryFontName) && kSongFile=$(kelvo_fact kTemporarySongFileName) &&
  kSize=$(kelvo_design_size) && kTitle=$(kelvo_fact kWindowTitle) || { echo "check_demo: base/facts.txt is incomplete" >&2; exit 1; }
readonly kFontFile kSongFile kSize kTitle
# Seconds: to the mapped window (Wine's start and the atlas take about 4 under load), from
# mapping to the harbour (it shows from about 3.8), and for a run to end once asked.
readonly kMapSeconds=60 kHarbourSeconds=7 kEndSeconds=15
# The pointer probe's square, in the sky (still, so that two grabs of it differ only by the
# pointer drawn into one of them).
readonly kProbeX=900 kProbeY=150 kProbeSide=48
# The song's place: cuts paired with hits (sixteen pictures and the harbour in the
# recording), the largest median offset allowed (sound later than this behind the picture
# is noticed), and the recorded part of the screen (its middle, where every cut shows).
readonly kSongPairedCuts=13 kSongOffsetMs=45 kSongGrabWidth=480 kSongGrabHeight=270

check=${1:-}
fail() { echo "check_demo $check: $*" >&2; exit 1; }
say() { echo "check_demo $check: $*"; }

# ---------------------------------------------------------------------------------------
# The part that runs as the ordinary user (setpriv from the read-only check below): a Wine
# prefix of that user's own, the demo from FOLDER with its output to LOG, ended by Escape
# once it reports its frame rate; the user's temporary folder is listed before and after to
# LOG.before and LOG.after. Sound goes to ALSA's null device (the harness's sound server
# admits only root), as in the Linux program's test of the same.
if [ "$check" = as-user ]; then
  folder=$2 log=$3
  source "$root/scripts/lib/wine.sh"
  trap 'kelvo_wine_prefix_remove' EXIT
  trap 'exit 143' TERM
  trap 'exit 130' INT
  unset KELVO_WINE_DIR WINEPREFIX
  kelvo_wine_prefix_new || exit 125
  export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winepulse.drv=d"
  printf 'pcm.!default { type null }\nctl.!default { type hw card 0 }\n' >"$HOME/.asoundrc"
  # The user's temporary folder as this Wine makes it (Wine 8: C:\users\NAME\Temp; Wine 10,
  # as Windows: C:\users\NAME\AppData\Local\Temp).
  windows_temporary=$(wine cmd /c 'echo %TEMP%' </dev/null 2>/dev/null | tr -d '\r')
  temporary=$(winepath -u "$windows_temporary" 2>/dev/null)
  [ -n "$windows_temporary" ] && [ -d "$temporary" ] || exit 125
  echo "$temporary" >"$log.temporary"
  echo "$windows_temporary" >"$log.windows-temporary"
  # A folder at the font's name: the font goes to a private folder of its own.
  mkdir -p "$temporary/$kFontFile" || exit 125
  ls -A "$temporary" >"$log.before" 2>/dev/null
  cd "$folder" || exit 125
  wine ./tessic.exe </dev/null >"$log" 2>&1 &
  demo=$!
  for ((tenths = 0; tenths < (kMapSeconds + kHarbourSeconds) * 10; tenths++)); do
    grep -qE '[0-9]+ fps' "$log" && break
    kill -0 "$demo" 2>/dev/null || break
    sleep 0.1
  done
  grep -qE '[0-9]+ fps' "$log" && xdotool key Escape
  for ((tenths = 0; tenths < kEndSeconds * 10; tenths++)); do
    kill -0 "$demo" 2>/dev/null || break
    sleep 0.1
  done
  kill "$demo" 2>/dev/null
  wait "$demo"
  status=$?
  ls -A "$temporary" >"$log.after" 2>/dev/null
  exit "$status"
fi

case "$check" in screen|minimised|close|read-only|song|damaged) ;; *) echo "usage: $0 screen|minimised|close|read-only|song|damaged TESSIC.exe HOST_BUILD" >&2; exit 2 ;; esac
[ $# -eq 3 ] || { echo "usage: $0 $check TESSIC.exe HOST_BUILD" >&2; exit 2; }
exe=$(realpath "$2") host=$(realpath "$3")
[ -f "$exe" ] || fail "no $exe"
[ -n "${KELVO_HEADLESS:-}" ] && [ -n "${DISPLAY:-}" ] || fail "needs scripts/headless"
[ -n "${KELVO_WINE_DIR:-}" ] || fail "needs a Wine session (scripts/windows-test)"
kMappedLine=$(kelvo_log_line kMappedWindowLine windows) || fail "platform/windows/loglines.txt names no mapped-window line"
readonly kMappedLine

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvo-check-demo.XXXXXX") || exit 1
demo= recorder=
trap 'stop_process "$demo" TERM 5; stop_process "$recorder" INT 5; rm -rf "$work"' EXIT
trap 'exit 143' TERM
trap 'exit 130' INT

# A fresh folder FOLDER holding a copy of tessic.exe.
fresh_folder() {
  mkdir "$1" && cp "$exe" "$1/tessic.exe" || fail "cannot copy $exe to $1"
}
# A folder as Wine's programs see it (drive Z: is the root of the file system).
windows_path() {
  local path=${1//\//\\}
  echo "Z:$path"
}
# What is in FOLDER besides tessic.exe, one name a line.
left_in() {
  ls -A "$1" | grep -vxF tessic.exe
}
# Starts the copy in FOLDER through scripts/wine (and STARTER, a Windows program that starts
# it, if given), its standard output to FOLDER.log.
start_demo() {
  local folder=$1 starter=("${@:2}")
  pushd "$folder" >/dev/null || fail "no $folder"
  start_job "$root/scripts/wine" "${starter[@]}" ./tessic.exe </dev/null >"$folder.log" 2>"$folder.err"
  demo=$started_pid
  popd >/dev/null
}
# Waits up to kMapSeconds for the mapped-window line in FOLDER.log while the demo runs.
await_mapped() {
  local folder=$1 tenths
  for ((tenths = 0; tenths < kMapSeconds * 10; tenths++)); do
    grep -qF -- "$kMappedLine" "$folder.log" && return 0
    running "$demo" || break
    sleep 0.1
  done
  grep -qF -- "$kMappedLine" "$folder.log" && return 0
  tail -n 5 "$folder.log" "$folder.err" >&2
  running "$demo" && fail "no \"$kMappedLine\" within $kMapSeconds s"
  wait "$demo"
  fail "the demo ended with status $? before \"$kMappedLine\""
}
# Waits up to SECONDS (kEndSeconds) for the demo to end and lands its status in ended; false
# when it still runs.
await_end() {
  local tenths limit=$((${1:-$kEndSeconds} * 10))
  ended=
  for ((tenths = 0; tenths < limit; tenths++)); do
    running "$demo" || break
    sleep 0.1
  done
  [ "$tenths" -lt "$limit" ] || return 1
  wait "$demo"
  ended=$?
  demo=
}
# Ends the run with a key (Escape, alt+F4) and expects status 0.
end_with() {
  local key=$1 folder=$2
  running "$demo" || { tail -n 5 "$folder.log" "$folder.err" >&2; fail "the demo ended before $key was pressed"; }
  xdotool key "$key"
  await_end || fail "$key did not end the run within $kEndSeconds s"
  say "$key ended the run with status $ended"
  [ "$ended" -eq 0 ] || { tail -n 5 "$folder.log" "$folder.err" >&2; fail "$key ended the run with status $ended, not 0"; }
}
# The temporary files were made in FOLDER (so that finding none there afterwards means
# they went) and none is left there now.
expect_temporary_files_gone() {
  local folder=$1 name
  for name in "$kFontFile" "$kSongFile"; do
    grep -qF -- "$(windows_path "$folder")\\$name" "$folder.log" ||
      fail "the output never names $(windows_path "$folder")\\$name: the temporary file was made elsewhere"
  done
  [ -z "$(left_in "$folder")" ] || fail "left in its folder: $(left_in "$folder" | tr '\n' ' ')"
  say "nothing is left in its folder"
}
# The place and size of a window (xwininfo's arguments): "x y width height ".
geometry() {
  xwininfo "$@" | sed -n 's/^ *\(Absolute upper-left [XY]\|Width\|Height\): *\(-*[0-9]*\)$/\2/p' | tr '\n' ' '
}
# Pixels where two grabs of the probe's square around the pointer differ, one with the
# pointer drawn in (ffmpeg's X11 grabber draws the server's current cursor image) and one
# without: 0 when the pointer is hidden.
pointer_pixels() {
  local grab=$work/pointer corner
  corner=$((kProbeX - kProbeSide / 2)),$((kProbeY - kProbeSide / 2))
  xdotool mousemove "$kProbeX" "$kProbeY"
  sleep 0.3
  for drawn in 0 1; do
    ffmpeg -nostdin -hide_banner -loglevel error -y -f x11grab -draw_mouse $drawn \
      -video_size ${kProbeSide}x$kProbeSide -i "$DISPLAY+$corner" -frames:v 1 "$grab-$drawn.png" || return 1
  done
  # (compare's status says whether they differ; the count is what matters here.)
  local count
  count=$(compare -metric AE "$grab-0.png" "$grab-1.png" null: 2>&1)
  [[ $count =~ ^[0-9]+$ ]] || return 1
  echo "$count"
}

# ---------------------------------------------------------------------------------------
check_screen() {
  local folder=$work/demo frame reference=$work/reference.png match= attempt window geometry
  # The package's screenshot: frame kShotFrame of the Linux program on the film's clock.
  frame=$(sed -n 's/^readonly kShotFrame=\([0-9]*\)$/\1/p' "$root/scripts/release")
  [ -n "$frame" ] || fail "scripts/release names no kShotFrame"
  [ -x "$host/kelvo" ] && [ -f "$host/libkelvo-film.so" ] || fail "no kelvo or libkelvo-film.so in $host"
  mkfifo "$work/video"
  ffmpeg -nostdin -hide_banner -loglevel error -f rawvideo -pix_fmt bgr0 -video_size "$kSize" \
    -i "$work/video" -vf "select=eq(n\,$frame)" -frames:v 1 -pix_fmt rgb24 -f image2 -c:v png "$reference" &
  local encoder=$!
  LD_PRELOAD="$host/libkelvo-film.so" KELVO_FILM_VIDEO="$work/video" KELVO_FILM_FRAMES=$((frame + 1)) \
    "$host/kelvo" </dev/null >"$work/film.log" 2>&1 || { wait "$encoder"; fail "the film of the Linux program failed"; }
  wait "$encoder" && [ -s "$reference" ] || fail "no frame $frame of the Linux program"

  # The probe sees the pointer where nothing hides it.
  local shown
  shown=$(pointer_pixels) || fail "the pointer cannot be grabbed"
  [ "${shown:-0}" -gt 0 ] || fail "the pointer probe sees no pointer over the bare desktop"

  fresh_folder "$folder"
  start_demo "$folder"
  await_mapped "$folder"
  say "standard output has \"$kMappedLine\""

  window=$(xdotool search --onlyvisible --name "^$kTitle\$" | head -n 1)
  [ -n "$window" ] || fail "no visible window named $kTitle"
  geometry=$(geometry -id "$window")
  say "window $window at x y width height $geometry; the screen's $(geometry -root)"
  [ "$geometry" = "$(geometry -root)" ] || fail "the window does not cover the screen"

  sleep $kHarbourSeconds
  for ((attempt = 1; attempt <= 3; attempt++)); do
    running "$demo" || break
    import -window root "$work/shot.png" 2>/dev/null
    match=$(kelvo_sky_match "$work/shot.png" "$reference")
    kelvo_sky_matches "$match" && break
    sleep 2
  done
  say "the screenshot's sky matches frame $frame of the Linux program's by ${match:-nothing}"
  kelvo_sky_matches "${match:-0}" || fail "the harbour's sky does not match (needed: $kKelvoSkyNeededMatch)"

  local hidden
  hidden=$(pointer_pixels) || fail "the pointer cannot be grabbed"
  say "the pointer changes $shown pixels over the desktop and ${hidden:-?} over the demo"
  [ "${hidden:-1}" -eq 0 ] || fail "the pointer shows over the demo's window"

  end_with Escape "$folder"
  expect_temporary_files_gone "$folder"
}

check_minimised() {
  local folder=$work/demo starter window geometry state
  starter=$(dirname "$exe")/kelvo-start-minimised.exe
  [ -f "$starter" ] || fail "no $starter"
  fresh_folder "$folder"
  WINEDEBUG=warn+ntdll start_demo "$folder" "$starter"
  await_mapped "$folder"
  # Its frame loop runs (the first frame-rate report) before Escape is pressed.
  local tenths
  for ((tenths = 0; tenths < kMapSeconds * 10; tenths++)); do
    grep -qE '[0-9]+ fps' "$folder.log" && break
    running "$demo" || break
    sleep 0.1
  done
  window=$(xdotool search --onlyvisible --name '^tessic$' | head -n 1)
  [ -n "$window" ] || fail "no visible window named tessic: it was left minimised"
  state=$(xwininfo -id "$window" | sed -n 's/^ *Map State: *//p')
  geometry=$(geometry -id "$window")
  say "started minimised: window $window ($state) at x y width height $geometry; the screen's $(geometry -root)"
  [ "$state" = IsViewable ] || fail "the window is not shown ($state)"
  [ "$geometry" = "$(geometry -root)" ] || fail "the window does not cover the screen"
  end_with Escape "$folder"
  expect_temporary_files_gone "$folder"
  # "THREAD:warn:ntdll:NtSetThreadExecutionState (FLAGS, ...)": ES_CONTINUOUS |
  # ES_DISPLAY_REQUIRED first, ES_CONTINUOUS alone last, both from the same thread.
  local states
  say "its error output: $(wc -l <"$folder.err") lines, $(grep -c ":warn:ntdll:" "$folder.err") of them warn:ntdll"
  states=$(sed -n 's/^\([0-9a-f]*\):warn:ntdll:NtSetThreadExecutionState (\(0x[0-9a-f]*\),.*/\1 \2/p' "$folder.err")
  say "execution states (thread flags): $(tr '\n' ' ' <<<"$states")"
  [ "$(head -n 1 <<<"$states" | cut -d' ' -f2)" = 0x80000002 ] || fail "the display was not kept awake"
  [ "$(tail -n 1 <<<"$states" | cut -d' ' -f2)" = 0x80000000 ] || fail "the display's wakefulness was not released at the end"
  [ "$(cut -d' ' -f1 <<<"$states" | sort -u | wc -l)" -eq 1 ] || fail "set and released on different threads"
}

check_close() {
  local folder=$work/demo
  fresh_folder "$folder"
  start_demo "$folder"
  await_mapped "$folder"
  # The window manager has taken the window once it is mapped; a second for the frame loop.
  sleep 1
  end_with alt+F4 "$folder"
  expect_temporary_files_gone "$folder"
}

check_read_only() {
  local user=nobody group folder=$work/read-only home=$work/home cache log status name winfolder line used
  group=$(id -gn "$user") || fail "no user $user"
  # Its own cache of a booted prefix (booted once, about 20 s), beside root's.
  cache=$(source "$root/scripts/lib/cache.sh" && kelvo_cache_dir)/users/$user
  mkdir -p "$cache" "$home" && chown "$user:$group" "$cache" "$home" || fail "cannot make $user's folders"
  chmod 0711 "$work"
  fresh_folder "$folder"
  chmod 0555 "$folder"
  log=$home/demo.log
  # The user may not reach this checkout (a clone in a home folder of mode 0700): the part it
  # runs, with the scripts' shared functions and facts it reads, goes along in a copy.
  local tree=$work/as-user
  mkdir -p "$tree/tests/windows" "$tree/scripts" "$tree/base" || fail "cannot copy the checks for $user"
  cp -r "$root/scripts/lib" "$tree/scripts/" && cp "$0" "$tree/tests/windows/" &&
    cp "$root/base/facts.txt" "$tree/base/" && (cd "$root" && cp --parents platform/*/loglines.txt "$tree/") &&
    chmod -R a+rX "$tree" || fail "cannot copy the checks for $user"
  setpriv --reuid="$user" --regid="$group" --clear-groups -- \
    env HOME="$home" USER="$user" LOGNAME="$user" TMPDIR="$home" KELVO_CACHE="$cache" \
    bash "$tree/tests/windows/$(basename "$0")" as-user "$folder" "$log"
  status=$?
  say "as $user from a folder of mode $(stat -c %a "$folder"): status $status"
  [ -s "$log" ] || fail "the run as $user made no output (status $status)"
  grep -qF -- "$kMappedLine" "$log" || { tail -n 5 "$log" >&2; fail "no \"$kMappedLine\" as $user"; }
  grep -qE '[0-9]+ fps' "$log" || { tail -n 5 "$log" >&2; fail "no frame-rate report as $user"; }
  [ "$status" -eq 0 ] || fail "Escape ended the run as $user with status $status"

  winfolder=$(windows_path "$folder")
  local wintemporary
  wintemporary=$(cat "$log.windows-temporary")
  for name in "$kFontFile" "$kSongFile"; do
    # One warning, naming the folder's name it could not take and the one it took instead:
    # the temporary folder, or for the font (a folder in the way there) a private folder
    # inside it.
    [ "$(grep -cF "WARNING: cannot create \"$winfolder\\$name\"" "$log")" -eq 1 ] ||
      fail "not one warning about $winfolder\\$name: $(grep -F WARNING "$log")"
    line=$(grep -F "WARNING: cannot create \"$winfolder\\$name\"" "$log")
    say "$line"
    used=$(sed -n 's/^\[u[A-Za-z]*\] WARNING: cannot create "[^"]*" ([^)]*), using "\(.*\)" instead$/\1/p' <<<"$line")
    if [ "$name" = "$kFontFile" ]; then
      [[ $used == "$wintemporary\\ombrel-tessic-kelvo-"*"\\$name" ]] ||
        fail "the warning's file \"$used\" is not in a private folder inside $user's temporary folder ($wintemporary)"
    else
      [ "$used" = "$wintemporary\\$name" ] ||
        fail "the warning's file \"$used\" is not in $user's temporary folder ($wintemporary)"
    fi
  done
  [ "$(grep -c WARNING "$log")" -eq 2 ] || fail "more warnings than the two: $(grep WARNING "$log")"
  # The private folder went with the font's name (or with the process, where names stay).
  [ -z "$(left_in "$folder")" ] || fail "left in the read-only folder: $(left_in "$folder" | tr '\n' ' ')"
  cmp -s "$log.before" "$log.after" ||
    fail "left in $user's temporary folder: $(diff "$log.before" "$log.after" | grep '^>' | tr '\n' ' ')"
  say "nothing is left in the folder or in $(cat "$log.temporary" | sed "s|^$home/[^/]*/prefix/||")"
}

check_song() {
  local folder=$work/demo film=$work/song.mkv width height tenths offsets paired median
  [ -x "$host/kelvo-sync" ] || fail "no kelvo-sync in $host"
  read -r _ _ width height <<<"$(geometry -root)"
  fresh_folder "$folder"
  # Both inputs are stamped with the wall clock as they arrive; the output at a constant
  # frame rate, so that a frame's number gives its time.
  start_job ffmpeg -nostdin -hide_banner -loglevel error -y \
    -thread_queue_size 1024 -f x11grab -framerate 60 -video_size ${kSongGrabWidth}x$kSongGrabHeight \
    -i "$DISPLAY+$(((width - kSongGrabWidth) / 2)),$(((height - kSongGrabHeight) / 2))" \
    -thread_queue_size 1024 -f pulse -sample_rate 44100 -channels 2 -fragment_size 1764 -i "$KELVO_SINK.monitor" \
    -fps_mode cfr -r 60 -c:v ffv1 -c:a pcm_s16le "$film" </dev/null >"$work/recorder.log" 2>&1
  recorder=$started_pid
  for ((tenths = 0; tenths < 50; tenths++)); do
    [ "$(stat -c %s "$film" 2>/dev/null || echo 0)" -gt 0 ] && break
    running "$recorder" || { cat "$work/recorder.log" >&2; fail "the recorder failed"; }
    sleep 0.1
  done
  start_demo "$folder"
  await_mapped "$folder"
  sleep $kHarbourSeconds
  stop_process "$recorder" INT 5
  recorder=
  end_with Escape "$folder"

  "$host/kelvo-sync" "$film" --limit 1000 >"$work/sync.txt" 2>&1
  [ $? -le 1 ] || { cat "$work/sync.txt" >&2; fail "kelvo-sync could not read the recording"; }
  offsets=$(sed -n 's/.*offset *\([-+0-9.]*\) ms$/\1/p' "$work/sync.txt" | sort -g)
  paired=$(grep -c . <<<"$offsets")
  median=$(awk '{ v[NR] = $1 } END { if (NR == 0) print "none"; else if (NR % 2) print v[(NR + 1) / 2];
                                      else printf "%.2f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }' <<<"$offsets")
  say "$paired cuts paired with the song's hits, offsets (ms) $(tr '\n' ' ' <<<"$offsets")"
  say "the song is heard $median ms after the picture (median)"
  [ "$paired" -ge $kSongPairedCuts ] || { cat "$work/sync.txt" >&2; fail "fewer than $kSongPairedCuts cuts have the song's hit"; }
  awk -v m="$median" -v l=$kSongOffsetMs 'BEGIN { exit !(m != "none" && m <= l && m >= -l) }' ||
    fail "the song is $median ms from the pictures' place (limit $kSongOffsetMs ms)"
}

check_damaged() {
  local linux=$work/linux windows=$work/windows font=$work/font.bin linux_status windows_status
  local linux_line windows_line expected
  [ -x "$host/kelvo" ] && [ -x "$host/kelvo-res" ] || fail "no kelvo or kelvo-res in $host"
  head -c 4096 /dev/zero | tr '\0' 'Z' >"$font"
  mkdir "$linux" "$windows" || exit 1
  "$host/kelvo-res" edit "$host/kelvo" "$linux/kelvo" --set FONT="$font" >/dev/null &&
    "$host/kelvo-res" edit "$exe" "$windows/tessic.exe" --set FONT="$font" >/dev/null ||
    fail "kelvo-res could not damage the FONT entry"
  (cd "$linux" && exec timeout $kMapSeconds ./kelvo </dev/null >"$linux.log" 2>&1)
  linux_status=$?
  start_demo "$windows"
  await_end $kMapSeconds || fail "the damaged tessic.exe still runs after $kMapSeconds s"
  windows_status=$ended
  linux_line=$(tail -n 1 "$linux.log")
  windows_line=$(tail -n 1 "$windows.log")
  say "Linux:   status $linux_status, last line: $linux_line"
  say "Windows: status $windows_status, last line: $windows_line"
  [ "$linux_status" -ne 0 ] && [[ $linux_line == *"$linux/$kFontFile"* ]] ||
    fail "the damaged Linux program did not end on its font (status $linux_status)"
  # The Linux line with the Windows path of the Windows copy's file.
  expected=${linux_line//"$linux/$kFontFile"/"$(windows_path "$windows")\\$kFontFile"}
  [ "$windows_line" = "$expected" ] || fail "the last line is not the Linux program's: expected $expected"
  [ "$windows_status" -eq "$linux_status" ] || fail "status $windows_status, the Linux program's $linux_status"
  [ -z "$(ls -A "$linux" | grep -vxF kelvo)" ] || fail "left beside the Linux program: $(ls -A "$linux")"
  [ -z "$(left_in "$windows")" ] || fail "left in its folder: $(left_in "$windows" | tr '\n' ' ')"
  say "nothing is left in either folder"
}

started=$EPOCHREALTIME
"check_${check//-/_}"
say "passed in $(awk -v a="$started" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.0f", b - a }') s"

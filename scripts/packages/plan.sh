# The choice of Debian packages for a machine, as functions without side effects: sourced by
# scripts/install-deps (which gathers the facts) and by the tests (which make them up).
#
#   kelvo_sound_server INSTALLED SOUND
#       Prints the sound server the harness uses: pipewire or pulse. SOUND is the one asked
#       for (pipewire, pulse or auto). With auto: PipeWire where it is the machine's sound
#       server (pipewire-audio, pipewire-pulse or pipewire-alsa installed), PulseAudio where
#       pulseaudio is installed, and PipeWire, today's default, where neither is.
#
#   kelvo_plan LISTS INSTALLED CONFLICTS SOUND PURPOSE...
#       Prints "install PKG" for each package the purposes need that is not installed, in
#       list order, and returns 0. When one of those cannot be installed without removing an
#       installed package (or another one of them), prints "stop ..." lines that name both
#       and say what to do, and returns 1; nothing is to be installed then.
#
#   kelvo_conflict_lines < RECORDS
#       Turns package records (apt-cache show, dpkg-query) into the CONFLICTS lines below:
#       "PKG OTHER..." from their Conflicts and Breaks fields. Only unversioned relations
#       count: a versioned one concerns another release, which apt's dry run still sees.
#
# LISTS is the folder of the package lists (<purpose>.txt, sound-<server>.txt). INSTALLED is
# a file with the installed packages, one a line. CONFLICTS is a file of lines
# "PKG OTHER..." saying that PKG cannot be installed beside any of the others (both
# directions need not be listed). PURPOSE is one of build, harness, tests, fuzz, film,
# desktops, windows, roots, emulation; harness brings the chosen sound server's list with it.

# The package names of one list file, comments and blank lines left out.
kelvo_list() {
  sed -e 's/#.*//' -e 's/[[:space:]]//g' -e '/^$/d' "$1"
}

kelvo_conflict_lines() {
  awk '
    /^Package:/ { pkg = $2 }
    /^(Conflicts|Breaks):/ {
      sub(/^[A-Za-z]+:[[:space:]]*/, "")
      n = split($0, items, /[,|]/)
      line = ""
      for (i = 1; i <= n; i++) {
        item = items[i]
        gsub(/^[[:space:]]+|[[:space:]]+$/, "", item)
        if (item == "" || item ~ /\(/) continue
        sub(/:.*/, "", item)
        line = line " " item
      }
      if (line != "") print pkg line
    }'
}

kelvo_sound_server() {
  local installed=$1 sound=$2
  case "$sound" in
    pipewire|pulse) echo "$sound"; return 0 ;;
    auto|'') ;;
    *) echo "unknown sound server: $sound (pipewire, pulse or auto)" >&2; return 2 ;;
  esac
  if grep -qx -e pipewire-audio -e pipewire-pulse -e pipewire-alsa "$installed"; then
    echo pipewire
  elif grep -qx pulseaudio "$installed"; then
    echo pulse
  else
    echo pipewire
  fi
}

# Prints "PKG OTHER installed" for each package to install (MISSING, one a line) that
# conflicts with an installed one, and "PKG OTHER missing" for two packages to install that
# conflict with each other; the table counts either way.
kelvo_conflicts() {
  local missing=$1 installed=$2 conflicts=$3
  awk '
    FILENAME == ARGV[1] { missing[$1] = 1; order[++n] = $1; next }
    FILENAME == ARGV[2] { installed[$1] = 1; next }
    { for (i = 2; i <= NF; i++) { bad[$1 SUBSEP $i] = 1; bad[$i SUBSEP $1] = 1 } }
    END {
      for (k = 1; k <= n; k++) {
        a = order[k]
        for (pair in bad) {
          split(pair, ab, SUBSEP)
          if (ab[1] != a) continue
          b = ab[2]
          if (b in installed) print a, b, "installed"
          else if ((b in missing) && a < b) print a, b, "missing"
        }
      }
    }' "$missing" "$installed" "$conflicts" | sort -u
}

kelvo_plan() {
  local lists=$1 installed=$2 conflicts=$3 sound=$4
  shift 4
  local purpose server files=() wanted=() missing=() pkg other stops=()
  server=$(kelvo_sound_server "$installed" "$sound") || return 2
  for purpose in "$@"; do
    [ -f "$lists/$purpose.txt" ] || { echo "unknown purpose: $purpose" >&2; return 2; }
    files+=("$lists/$purpose.txt")
    [ "$purpose" = harness ] && files+=("$lists/sound-$server.txt")
  done
  mapfile -t wanted < <(for file in "${files[@]}"; do kelvo_list "$file"; done | awk '!seen[$0]++')
  for pkg in "${wanted[@]}"; do
    grep -qxF -- "$pkg" "$installed" || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  while read -r pkg other where; do
    if [ "$where" = installed ]; then
      stops+=("stop $pkg cannot be installed beside the installed $other: apt would have to remove $other.")
    else
      stops+=("stop $pkg and $other are both needed but cannot be installed together.")
    fi
  done < <(kelvo_conflicts <(printf '%s\n' "${missing[@]}") "$installed" "$conflicts")
  if [ ${#stops[@]} -gt 0 ]; then
    printf '%s\n' "${stops[@]}"
    if [ "$server" = pipewire ] && grep -qx pulseaudio "$installed"; then
      echo "stop This machine's sound server is PulseAudio: use the PulseAudio harness (--sound pulse or KELVO_SOUND=pulse)."
    elif [ "$server" = pulse ] && grep -qx -e pipewire-audio -e pipewire-alsa -e pipewire-pulse "$installed"; then
      echo "stop This machine's sound server is PipeWire: use the PipeWire harness (--sound pipewire or KELVO_SOUND=pipewire)."
    else
      echo "stop Install the packages named above yourself once the ones they conflict with may go, then run again."
    fi
    echo "stop Nothing was installed or removed."
    return 1
  fi
  for pkg in "${missing[@]}"; do echo "install $pkg"; done
  return 0
}

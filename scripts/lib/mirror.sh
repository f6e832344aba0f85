# The Debian mirror the scripts fetch from: the one this machine's apt is set up with, so
# that a network with its own mirror or caching proxy works as apt does, and the project
# chooses no host (sourced by scripts/lib/roots.sh and scripts/windows-deps).
#
#   kelvo_mirror [ETC [CODENAME]]
#       Prints the archive's address: $KELVO_MIRROR where set, else the URI of the first
#       enabled apt source of the machine's release (a suite CODENAME or CODENAME-updates,
#       or one of Debian's suite names: stable, testing, unstable, ...). Fails with a line
#       that says what to set when the sources name none.
#   kelvo_security_mirror [ETC [CODENAME]]
#       Prints the security archive's address: $KELVO_SECURITY_MIRROR where set, else the
#       URI of the first enabled source of the suite CODENAME-security; fails (quietly)
#       when there is none.
#   kelvo_apt_sources [ETC]
#       Prints "TYPE URI SUITE" for every enabled source and suite: deb822 stanzas of
#       ETC/sources.list.d/*.sources (Types, URIs, Suites, Enabled) and the one-line
#       entries of ETC/sources.list and ETC/sources.list.d/*.list ("deb [options] URI
#       SUITE COMPONENT..."); URIs without their trailing slash, cdrom sources left out.
#   kelvo_apt_proxy
#       Prints the HTTP proxy apt is set up with (Acquire::http::Proxy), nothing where
#       there is none; debootstrap and the roots' own apt are given it.
#
# ETC is apt's configuration folder (default /etc/apt), CODENAME the machine's release
# (default VERSION_CODENAME of /etc/os-release); the tests give made-up ones.

kelvo_apt_sources() {
  local etc=${1:-/etc/apt} file
  local lists=() stanzas=()
  [ -f "$etc/sources.list" ] && lists+=("$etc/sources.list")
  for file in "$etc"/sources.list.d/*.list; do [ -f "$file" ] && lists+=("$file"); done
  for file in "$etc"/sources.list.d/*.sources; do [ -f "$file" ] && stanzas+=("$file"); done
  if [ ${#lists[@]} -gt 0 ]; then
    awk '
      { sub(/#.*/, "") }
      $1 == "deb" || $1 == "deb-src" {
        type = $1
        line = $0
        sub(/^[[:space:]]*deb(-src)?[[:space:]]+/, "", line)
        # Options in brackets may hold spaces ("[ arch=amd64 signed-by=... ]").
        if (line ~ /^\[/) { sub(/^\[[^]]*\][[:space:]]*/, "", line) }
        n = split(line, word, /[[:space:]]+/)
        if (n < 2 || word[1] ~ /^cdrom:/) next
        uri = word[1]; sub(/\/+$/, "", uri)
        print type, uri, word[2]
      }' "${lists[@]}"
  fi
  if [ ${#stanzas[@]} -gt 0 ]; then
    awk '
      function flush(   t, u, s, nt, nu, ns, i, j, k) {
        if (tolower(field["enabled"]) != "no") {
          nt = split(field["types"], t, /[[:space:]]+/)
          nu = split(field["uris"], u, /[[:space:]]+/)
          ns = split(field["suites"], s, /[[:space:]]+/)
          for (i = 1; i <= nt; i++) for (j = 1; j <= nu; j++) for (k = 1; k <= ns; k++) {
            if ((t[i] != "deb" && t[i] != "deb-src") || u[j] == "" || s[k] == "" || u[j] ~ /^cdrom:/) continue
            uri = u[j]; sub(/\/+$/, "", uri)
            print t[i], uri, s[k]
          }
        }
        delete field
        last = ""
      }
      FNR == 1 && NR > 1 { flush() }
      /^#/ { next }
      /^[[:space:]]*$/ { flush(); next }
      /^[[:space:]]/ { if (last != "") field[last] = field[last] " " $0; next }
      {
        name = tolower($0); sub(/:.*/, "", name)
        value = $0; sub(/^[^:]*:[[:space:]]*/, "", value)
        field[name] = value
        last = name
      }
      END { flush() }' "${stanzas[@]}" |
      sed 's/[[:space:]]\+/ /g'
  fi
}

kelvo_machine_codename() {
  (. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
}

kelvo_mirror() {
  if [ -n "${KELVO_MIRROR:-}" ]; then
    echo "${KELVO_MIRROR%/}"
    return 0
  fi
  local etc=${1:-/etc/apt} codename=${2:-$(kelvo_machine_codename)} uri
  uri=$(kelvo_apt_sources "$etc" | awk -v c="$codename" '
    $3 == c || $3 == c "-updates" || $3 ~ /^(old)*stable(-updates)?$|^testing(-updates)?$|^unstable$|^sid$/ {
      print $2; exit
    }')
  if [ -z "$uri" ]; then
    echo "mirror: the apt sources in $etc name no Debian archive of ${codename:-this release}; set KELVO_MIRROR to one (for example the URI of a deb line)" >&2
    return 1
  fi
  echo "$uri"
}

kelvo_security_mirror() {
  if [ -n "${KELVO_SECURITY_MIRROR:-}" ]; then
    echo "${KELVO_SECURITY_MIRROR%/}"
    return 0
  fi
  local etc=${1:-/etc/apt} codename=${2:-$(kelvo_machine_codename)} uri
  uri=$(kelvo_apt_sources "$etc" | awk -v c="$codename" '$3 == c "-security" { print $2; exit }')
  [ -n "$uri" ] || return 1
  echo "$uri"
}

kelvo_apt_proxy() {
  local proxy=
  eval "$(apt-config shell proxy Acquire::http::Proxy 2>/dev/null)"
  case "$proxy" in
    ''|DIRECT|false) ;;
    *) echo "$proxy" ;;
  esac
}

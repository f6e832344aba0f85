# Minimal Debian roots for building the release and for trying it on other distributions
# (sourced by scripts/release and scripts/distros; needs root and debootstrap).
#
# A root is made once with `debootstrap --variant=minbase` and kept in the cache folder
# $KELVO_ROOTS (default /var/cache/kelvo/roots, outside any clone) as $KELVO_ROOTS/NAME.
# The marker file $KELVO_ROOTS/NAME/.kelvo-root-packages is written once debootstrap has
# finished and then lists the packages installed since; a root without it (an interrupted
# debootstrap) is made again from nothing, and the packages a caller wants beyond the
# marker's are installed into the kept root.
#
# Commands run in a root through kelvo_root_run: in mount and PID namespaces of their own
# (unshare), where /proc, /dev, /sys and a fresh /tmp are mounted for them. When the command
# ends, the kernel ends every process still left in its PID namespace and drops the
# namespace's mounts, so a run leaves neither a process nor a mount behind, however it ends
# (the host's mount table never sees them).
#
# Roots of another architecture (kelvo_root_ensure_foreign) are trees of files only: this
# machine cannot run their programs, so nothing in them is ever configured or started but
# by an emulator that reads its libraries from there (qemu-aarch64-static -L DIR). Their
# symbolic links are relative: the emulator looks a path up in the root first, but the
# host's kernel resolves a link's target, so an absolute one would name the host's file
# (or nothing), and the emulated program would read what the host happens to have.
#
# The packages come from the Debian mirror this machine's apt sources name, or
# $KELVO_MIRROR (scripts/lib/mirror.sh), through the HTTP proxy apt is set up with, if any;
# debootstrap writes the mirror into the roots' own sources, and the security mirror the
# machine's apt names (or $KELVO_SECURITY_MIRROR) is added there.

# shellcheck source=mirror.sh
source "$(dirname "${BASH_SOURCE[0]}")/mirror.sh"

kelvo_roots_dir=${KELVO_ROOTS:-/var/cache/kelvo/roots}
readonly kelvo_root_marker=.kelvo-root-packages

kelvo_root_say() { echo "roots: $*" >&2; }

# The folder of the root NAME.
kelvo_root_dir() { echo "$kelvo_roots_dir/$1"; }

# Runs a command inside the root NAME as root. Options before NAME:
#   --offline           a network namespace of its own (loopback only): the command reaches
#                       nothing outside, and no other X server's abstract socket
#   --bind SRC DST      SRC of the host appears at DST inside the root (read-write)
#   --bind-ro SRC DST   the same, read-only
# The environment is cleared to a small one (PATH, HOME=/root, LANG=C.UTF-8, TERM) plus
# the variables named in KELVO_ROOT_ENV (NAME=VALUE words).
kelvo_root_run() {
  local offline=0 binds=() dir
  while [ $# -gt 0 ]; do
    case "$1" in
      --offline) offline=1; shift ;;
      --bind) binds+=(rw "$2" "$3"); shift 3 ;;
      --bind-ro) binds+=(ro "$2" "$3"); shift 3 ;;
      *) break ;;
    esac
  done
  dir=$(kelvo_root_dir "$1")
  shift
  local unshare=(unshare --mount --pid --fork --propagation private --mount-proc="$dir/proc")
  [ "$offline" = 0 ] || unshare+=(--net)
  # The inner script mounts what the root needs, then becomes the command (through chroot).
  # shellcheck disable=SC2016
  "${unshare[@]}" bash -c '
    set -e
    dir=$1; offline=$2; shift 2
    mount --rbind /dev "$dir/dev"
    mount -t sysfs -o ro sysfs "$dir/sys"
    mount -t tmpfs -o mode=1777 tmpfs "$dir/tmp"
    [ "$offline" = 0 ] || ip link set lo up 2>/dev/null || true
    while [ "$1" != -- ]; do
      mode=$1 src=$2 dst=$3; shift 3
      mkdir -p "$dir$dst"
      mount --bind "$src" "$dir$dst"
      [ "$mode" = rw ] || mount -o remount,bind,ro "$dir$dst"
    done
    shift
    exec chroot "$dir" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
      HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" $KELVO_ROOT_ENV "$@"
  ' kelvo-root "$dir" "$offline" "${binds[@]}" -- "$@"
}

# Runs a command with http_proxy set to the proxy apt is set up with, if any.
kelvo_root_proxied() {
  local proxy
  proxy=$(kelvo_apt_proxy)
  if [ -n "$proxy" ]; then http_proxy=$proxy "$@"; else "$@"; fi
}

# Makes sure the root NAME of SUITE exists with the given packages (installed without their
# recommendations). Prints nothing on success but what debootstrap and apt say on stderr.
kelvo_root_ensure() {
  local name=$1 suite=$2 dir missing mirror
  shift 2
  dir=$(kelvo_root_dir "$name")
  if [ ! -f "$dir/$kelvo_root_marker" ]; then
    mirror=$(kelvo_mirror) || return 1
    command -v debootstrap >/dev/null ||
      { kelvo_root_say "debootstrap is missing: scripts/install-deps roots"; return 1; }
    # Nothing is mounted on a root outside kelvo_root_run's namespaces, so an unfinished
    # root is plain files.
    rm -rf --one-file-system "$dir"
    mkdir -p "$kelvo_roots_dir"
    kelvo_root_say "making the $suite root $dir from $mirror (debootstrap --variant=minbase)"
    kelvo_root_proxied debootstrap --variant=minbase "$suite" "$dir" "$mirror" >"$dir.debootstrap.log" 2>&1 ||
      { tail -n 20 "$dir.debootstrap.log" >&2; kelvo_root_say "debootstrap of $suite failed"; return 1; }
    rm -f "$dir.debootstrap.log"
    # As an installed system has: the security archive's updates beside the release's.
    local security
    if security=$(kelvo_security_mirror); then
      echo "deb $security $suite-security main" >"$dir/etc/apt/sources.list.d/security.list"
    fi
    : >"$dir/$kelvo_root_marker"
  fi
  missing=()
  local package
  for package in "$@"; do
    grep -qxF "$package" "$dir/$kelvo_root_marker" 2>/dev/null || missing+=("$package")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  kelvo_root_say "installing into $name: ${missing[*]}"
  local proxy
  proxy=$(kelvo_apt_proxy)
  KELVO_ROOT_ENV="DEBIAN_FRONTEND=noninteractive${proxy:+ http_proxy=$proxy}" kelvo_root_run "$name" \
    sh -c 'apt-get update -qq && apt-get install -y -q --no-install-recommends "$@" && apt-get clean' \
    install "${missing[@]}" >"$dir.install.log" 2>&1 ||
    { tail -n 20 "$dir.install.log" >&2; kelvo_root_say "installing into $name failed"; return 1; }
  rm -f "$dir.install.log"
  printf '%s\n' "$@" | cat - "$dir/$kelvo_root_marker" | sort -u >"$dir/$kelvo_root_marker.new"
  mv "$dir/$kelvo_root_marker.new" "$dir/$kelvo_root_marker"
}

# Makes sure the root NAME holds SUITE's packages for the architecture ARCH (arm64) with
# their dependencies, unpacked: debootstrap's first stage (--foreign) resolves and fetches
# them, and every package is unpacked in place with dpkg-deb -x, since the second stage
# would run the root's own programs. Nothing is configured; the tree serves an emulator's
# library prefix. $KELVO_ROOTS/NAME/.kelvo-root-packages lists the packages asked for,
# .kelvo-root-unpacked the package files unpacked (name_version_arch.deb); a root asked
# for with other packages is made again.
kelvo_root_ensure_foreign() {
  local name=$1 suite=$2 arch=$3 dir wanted deb mirror
  shift 3
  dir=$(kelvo_root_dir "$name")
  wanted=$(printf '%s\n' "$@" | sort -u)
  if [ -f "$dir/$kelvo_root_marker" ] && [ "$(cat "$dir/$kelvo_root_marker")" = "$wanted" ]; then
    # A root kept from before its links were made relative gets them now.
    kelvo_root_relative_links "$dir"
    return 0
  fi
  mirror=$(kelvo_mirror) || return 1
  command -v debootstrap >/dev/null ||
    { kelvo_root_say "debootstrap is missing: scripts/install-deps roots"; return 1; }
  rm -rf --one-file-system "$dir"
  mkdir -p "$kelvo_roots_dir"
  kelvo_root_say "making the $arch $suite root $dir from $mirror (debootstrap --foreign, packages unpacked)"
  kelvo_root_proxied debootstrap --foreign --arch="$arch" --variant=minbase --include="$(IFS=,; echo "$*")" \
    "$suite" "$dir" "$mirror" >"$dir.debootstrap.log" 2>&1 ||
    { tail -n 20 "$dir.debootstrap.log" >&2; kelvo_root_say "debootstrap of $arch $suite failed"; return 1; }
  for deb in "$dir"/var/cache/apt/archives/*.deb; do
    dpkg-deb -x "$deb" "$dir" || { kelvo_root_say "cannot unpack $deb"; return 1; }
  done
  (cd "$dir/var/cache/apt/archives" && ls -- *.deb) >"$dir/.kelvo-root-unpacked"
  kelvo_root_relative_links "$dir"
  rm -f "$dir"/var/cache/apt/archives/*.deb "$dir.debootstrap.log"
  printf '%s\n' "$wanted" >"$dir/$kelvo_root_marker"
}

# Turns every absolute symbolic link in the tree DIR into the relative one that names the
# same file inside DIR (/etc/alsa/conf.d/50-pulseaudio.conf -> /usr/share/alsa/... becomes
# ../../../usr/share/alsa/...), so that whoever follows it stays in the tree.
kelvo_root_relative_links() {
  local dir=$1 link target
  while IFS= read -r -d '' link && IFS= read -r -d '' target; do
    ln -sfn -- "$(realpath -s -m --relative-to="$(dirname "$dir/$link")" "$dir$target")" "$dir/$link" ||
      { kelvo_root_say "cannot make the link $dir/$link relative"; return 1; }
  done < <(find "$dir" -xdev -type l -lname '/*' -printf '%P\0%l\0')
}

# Lets the root NAME install packages of the architecture ARCH beside its own (Debian's
# multiarch: NAME:ARCH), for cross building; the next kelvo_root_ensure reads ARCH's lists.
kelvo_root_add_architecture() {
  local name=$1 arch=$2
  kelvo_root_run "$name" sh -c 'dpkg --print-foreign-architectures | grep -qx "$1" || dpkg --add-architecture "$1"' \
    add-architecture "$arch"
}

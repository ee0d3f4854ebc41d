# Sourced by scripts/debian-release-test and scripts/arm64-machine-test: a
# fresh Debian system in a directory of its own, made with debootstrap from
# the archive this machine installs from, the steps that use it logged, and
# whatever was mounted or left running in it undone at exit.
#
# The sourcing script sets `here` (the checkout), `release`, `arch` and
# `me` (its own name, for messages). The base system's packages are kept as
# a tarball, and apt's downloads beside it, in $VORLIX_CACHE (default
# ~/.cache/vorlix), so later runs fetch nothing twice. Needs root.
cache=${VORLIX_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/vorlix}
name="Debian $release ($arch)"

say() { echo "$me: $name: $*" >&2; }
[ "$(id -u)" -eq 0 ] || { say "needs root (debootstrap, chroot)"; exit 1; }
. "$here/scripts/need-packages.sh"
need_packages debootstrap git

# The archive this machine installs from, and its security archive.
uris=$(sed -n 's/^URIs: *//p; s/^deb \(\[[^]]*\] \)\?\([^ ]*\) .*/\2/p' \
  /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null || true)
archive=$(grep -m1 -E '/debian/?$' <<<"$uris" || echo http://deb.debian.org/debian)
security=$(grep -m1 -E '/debian-security/?$' <<<"$uris" ||
  echo "${archive%/}-security")

mkdir -p "$cache/apt-$release-$arch"
root=$(mktemp -d /var/tmp/vorlix-debian-XXXXXX)
chmod 755 "$root" # its /, which every user of it goes through
log="$root.log"
mounts=()
current="" # the step under way
# Whatever happens: a step that failed is named, every process left inside
# is ended, what was mounted is unmounted (last first), and only then is
# the system removed, with whatever the sourcing script kept beside it
# ($root.*).
cleanup() {
  local status=$? pid
  if [ -n "$current" ]; then
    tail -n 40 "$log" >&2
    cp "$log" "$cache/debian-$release-$arch-failed.log"
    say "$current failed (exit status $status; all it printed:" \
      "$cache/debian-$release-$arch-failed.log)"
  fi
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    [ "$(readlink "/proc/$pid/root" 2>/dev/null)" = "$root" ] &&
      kill -9 "$pid" 2>/dev/null
  done
  unmount_all
  if ! grep -q " $root/" /proc/mounts; then
    rm -rf --one-file-system "$root" "$root".*
  fi
}
trap cleanup EXIT
mount_in() { # TYPE-OR-BIND SOURCE TARGET
  mkdir -p "$root$3"
  if [ "$1" = bind ]; then mount --bind "$2" "$root$3"
  else mount -t "$1" "$2" "$root$3"; fi
  mounts+=("$root$3")
}
unmount_all() {
  local i
  for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
    umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" || true
  done
  mounts=()
}

# Runs a step, its output kept in the log (and shown if it fails).
step() { # NAME COMMAND...
  current=$1
  local start=$SECONDS
  shift
  echo "$me: $name: $current ..." >&2
  "$@" >"$log" 2>&1
  echo "$me: $name: $current: $((SECONDS - start)) s" >&2
  current=""
}
inside() { # COMMAND: run by bash in the new system, as root, in the clone
  chroot "$root" /usr/bin/env -i HOME=/root LANG=C.UTF-8 TERM=dumb CI=true \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c "cd /root/vorlix && $1"
}

# The base system (minbase with git, ca-certificates and sudo), its sources,
# what a chroot needs mounted, and a plain clone of this checkout's HEAD in
# /root/vorlix.
make_system() {
  local base="$cache/debian-$release-$arch-minbase.tgz"
  local options=(--variant=minbase --arch="$arch"
                 --include=git,ca-certificates,sudo)
  if [ ! -s "$base" ]; then
    rm -rf "$root.base"
    debootstrap "${options[@]}" --make-tarball="$base.new" "$release" \
      "$root.base" "$archive"
    rm -rf "$root.base"
    mv "$base.new" "$base"
  fi
  debootstrap "${options[@]}" --unpack-tarball="$base" "$release" "$root" \
    "$archive"
  cat >"$root/etc/apt/sources.list" <<SOURCES
deb $archive $release main
deb $archive $release-updates main
deb $security $release-security main
SOURCES
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  mount_in proc proc /proc
  mount_in sysfs sys /sys
  mount_in bind /dev /dev
  mount_in bind /dev/pts /dev/pts
  mount_in tmpfs shm /dev/shm
  mount_in bind "$cache/apt-$release-$arch" /var/cache/apt/archives
  mkdir -p "$root/var/cache/apt/archives/partial"
  git clone -q "$here" "$root/root/vorlix"
  name="Debian $(. "$root/etc/os-release" && echo "$VERSION_ID") ($release, $arch)"
}

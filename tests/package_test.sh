#!/usr/bin/env bash
# Builds the Debian package, installs it with dpkg, starts `vorlix` from PATH
# the way the desktop entry does (in the installed pictures folder) under the
# current X display, checks its window and pictures, and removes the package
# again, leaving nothing behind. Needs root; exits 77 (skipped) otherwise, or
# when a vorlix package is installed already.
#   package_test.sh SOURCE_DIR
set -euo pipefail
src=$(cd "$1" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root for dpkg -i"; exit 77; }
if dpkg-query -W -f='${Status}' vorlix 2>/dev/null | grep -q "ok installed"; then
  echo "skipped: a vorlix package is installed already"
  exit 77
fi
work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  dpkg --purge vorlix >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

deb=$("$src/package" "$work/build" | tail -n 1)
case "$(basename "$deb")" in vorlix_*_"$(dpkg --print-architecture)".deb) ;;
  *) fail "package name $deb" ;; esac
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libglut libsoil libglu libgl1 libc6; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done

dpkg -i "$deb" >/dev/null || fail "dpkg -i"
files=$(dpkg -L vorlix)
[ "$(command -v vorlix)" = /usr/bin/vorlix ] || fail "vorlix not on PATH"
entry=/usr/share/applications/vorlix.desktop
dir=$(sed -n 's/^Path=//p' "$entry")
[ "$dir" = /usr/share/vorlix/pictures ] || fail "desktop entry Path=$dir"

# Start it as the desktop entry says, with the display given as an option.
display=$DISPLAY
(cd "$dir" && exec env -u DISPLAY vorlix -display "$display" >"$work/out" 2>&1) &
pid=$!
wid=""
for _ in $(seq 100); do
  wid=$(xdotool search --name '^Vorlix$' 2>/dev/null | head -n 1) || true
  [ -n "$wid" ] && break
  sleep 0.1
done
[ -n "$wid" ] || fail "no Vorlix window; it printed: $(cat "$work/out")"
info=$(xwininfo -id "$wid")
grep -q "Width: 480" <<<"$info" || fail "window: $info"
grep -q "Height: 360" <<<"$info" || fail "window: $info"
sleep 0.5
# Pictures, not white faces: some pixels near the centre are coloured.
import -window "$wid" "$work/shot.png"
coloured=0
for xy in 240,180 220,160 260,200 230,210 250,150; do
  c=$(convert "$work/shot.png" -format "%[fx:int(255*p{$xy}.r)] %[fx:int(255*p{$xy}.g)] %[fx:int(255*p{$xy}.b)]" info:)
  read -r r g b <<<"$c"
  spread=$(( (r > g ? r : g) > b ? (r > g ? r : g) : b ))
  low=$(( (r < g ? r : g) < b ? (r < g ? r : g) : b ))
  [ $((spread - low)) -gt 60 ] && coloured=$((coloured + 1))
done
[ "$coloured" -gt 0 ] || fail "no coloured pixel near the centre: faces white?"
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=""
[ ! -s "$work/out" ] || fail "vorlix printed: $(cat "$work/out")"

dpkg --purge vorlix >/dev/null || fail "dpkg --purge"
dpkg-query -W vorlix >/dev/null 2>&1 &&
  dpkg-query -W -f='${Status}' vorlix | grep -q "ok installed" &&
  fail "still installed"
while read -r f; do
  [ -z "$f" ] || [ -d "$f" ] || [ ! -e "$f" ] || fail "left behind: $f"
done <<<"$files"
for d in /usr/share/vorlix /usr/share/vorlix/pictures; do
  [ ! -e "$d" ] || fail "left behind: $d"
done
echo "package: installs, runs from PATH with its pictures, removes cleanly"

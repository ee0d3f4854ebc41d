#!/usr/bin/env bash
# Builds the Debian package with ./package (into a folder inside the
# checkout), checks it with lintian and hardening-check, installs it with
# dpkg, validates its desktop entry and metainfo, starts the desktop entry's
# command on picture files and then on none (the sample pictures) under the
# current X display, checks what each shows and that the window says it is
# Vorlix's, and removes the package again, leaving nothing behind. Needs
# root; exits 77 (skipped) otherwise, or when a vorlix package is installed
# already.
#   package_test.sh SOURCE_DIR
set -euo pipefail
src=$(cd "$1" && pwd)
[ "$(id -u)" -eq 0 ] || { echo "skipped: needs root for dpkg -i"; exit 77; }
if dpkg-query -W -f='${Status}' vorlix 2>/dev/null | grep -q "ok installed"; then
  echo "skipped: a vorlix package is installed already"
  exit 77
fi
work=$(mktemp -d)
out="$src/package-test-$$"
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  dpkg --purge vorlix >/dev/null 2>&1 || true
  rm -rf "$work" "$out"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }

deb=$(DEBFULLNAME="Ada Example" DEBEMAIL="ada@example.com" \
  "$src/package" "$out" | tail -n 1)
case "$(basename "$deb")" in vorlix_*_"$(dpkg --print-architecture)".deb) ;;
  *) fail "package name $deb" ;; esac
[ "$(dpkg-deb -f "$deb" Maintainer)" = "Ada Example <ada@example.com>" ] ||
  fail "Maintainer: $(dpkg-deb -f "$deb" Maintainer)"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libglut libsoil libglu libgl1 libc6 libseccomp libgdk-pixbuf-2.0-0 \
  webp-pixbuf-loader heif-gdk-pixbuf libavif-gdk-pixbuf libjxl liblcms2 \
  librsvg2-2 libraw libgif libpng16 libwebpdemux 'libavif[0-9]'; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
[ "$(dpkg-deb -f "$deb" Recommends)" = libnotify-bin ] ||
  fail "Recommends: $(dpkg-deb -f "$deb" Recommends)"
tags=$(lintian --pedantic --fail-on error,warning "$out"/*.changes 2>&1) ||
  fail "lintian: $tags"
tags=$(grep -v 'running with root privileges' <<<"$tags") || true
[ -z "$tags" ] || fail "lintian: $tags"
mkdir "$work/deb"
dpkg-deb -x "$deb" "$work/deb"
# Control-flow protection can't be had on Debian 12 or 13: their C start
# files are built without it, so no program linked there carries the mark.
# Branch protection is arm64's, though hardening-check asks for it on every
# architecture where it knows it (Debian 13's).
unchecked=(--nocfprotection)
checks=$(hardening-check --help 2>&1) || true
if [ "$(dpkg --print-architecture)" != arm64 ] &&
  grep -q -- --nobranchprotection <<<"$checks"; then
  unchecked+=(--nobranchprotection)
fi
for program in usr/bin/vorlix usr/bin/vorlix-open usr/libexec/vorlix/vorlix-decode; do
  hardening-check "${unchecked[@]}" "$work/deb/$program" >"$work/hardening" ||
    fail "hardening-check: $(cat "$work/hardening")"
done

dpkg -i "$deb" >/dev/null || fail "dpkg -i"
files=$(dpkg -L vorlix)
[ "$(command -v vorlix)" = /usr/bin/vorlix ] || fail "vorlix not on PATH"
[ "$(command -v vorlix-open)" = /usr/bin/vorlix-open ] ||
  fail "vorlix-open not on PATH"
[ -x /usr/libexec/vorlix/vorlix-decode ] ||
  fail "no decoder at /usr/libexec/vorlix/vorlix-decode"
for f in /usr/share/icons/hicolor/{scalable/apps/vorlix.svg,48x48/apps/vorlix.png} \
  /usr/share/man/man6/vorlix-open.6.gz; do
  [ -f "$f" ] || fail "missing $f"
done
entry=/usr/share/applications/vorlix.desktop
metainfo=/usr/share/metainfo/org.vorlix.vorlix.metainfo.xml
out_=$(desktop-file-validate "$entry" 2>&1) && [ -z "$out_" ] ||
  fail "desktop-file-validate: $out_"
out_=$(appstreamcli validate --no-net "$metainfo" 2>&1) ||
  fail "appstreamcli validate: $out_"
exec_line=$(sed -n 's/^Exec=//p' "$entry")
[ "$exec_line" = "/usr/bin/vorlix-open %F" ] || fail "Exec=$exec_line"
grep -q '^MimeType=.*image/heic;' "$entry" || fail "not offered for HEIC"
! grep -q inode/directory "$entry" || fail "offered for folders"

# Runs the entry's command as a desktop does (%F replaced by the files
# given, or dropped), checks the window's class, and leaves a screenshot of
# it in $work/shot.png. The launcher's private folder goes in
# $work/runtime.
mkdir "$work/runtime"
start_entry() {
  local files=$1 cmd
  cmd=${exec_line//%F/$files}
  (cd "$work" && XDG_RUNTIME_DIR="$work/runtime" exec sh -c "exec $cmd" \
    >"$work/out" 2>&1) &
  pid=$!
  local wid=""
  for _ in $(seq 100); do
    wid=$(xdotool search --name '^Vorlix$' 2>/dev/null | head -n 1) || true
    [ -n "$wid" ] && break
    sleep 0.1
  done
  [ -n "$wid" ] || fail "no Vorlix window; it printed: $(cat "$work/out")"
  info=$(xwininfo -id "$wid")
  grep -q "Width: 480" <<<"$info" || fail "window: $info"
  class=$(xprop -id "$wid" WM_CLASS)
  [ "$class" = 'WM_CLASS(STRING) = "vorlix", "Vorlix"' ] || fail "$class"
  sleep 0.5
  import -window "$wid" "$work/shot.png"
}
stop_entry() {
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  pid=""
  [ ! -s "$work/out" ] || fail "vorlix printed: $(cat "$work/out")"
  [ -z "$(ls -A "$work/runtime")" ] || fail "the launcher left its folder"
}
pixel() { # x y: "r g b" of the screenshot
  convert "$work/shot.png" -format \
    "%[fx:int(255*p{$1,$2}.r)] %[fx:int(255*p{$1,$2}.g)] %[fx:int(255*p{$1,$2}.b)]" info:
}

# Pictures opened from a file manager, named as they are: they show, read by
# SOIL and by GdkPixbuf from what the package depends on. All six are pure
# red, so the cube's middle is red whichever way it has turned by then.
mkdir "$work/folder with spaces"
files=""
for format in jpg webp heic avif tiff gif; do
  convert -size 32x32 xc:red "$format:$work/folder with spaces/red $format.$format"
  files="$files '$work/folder with spaces/red $format.$format'"
done
start_entry "$files"
# Faces darken towards their edges (SOIL leaves the textures clamped to a
# black border), and the middle may fall on one; the samples' own red has
# green and blue near 40.
read -r r g b <<<"$(pixel 240 180)"
[ "$r" -gt 120 ] && [ "$g" -lt 20 ] && [ "$b" -lt 20 ] ||
  fail "the cube's middle is ($r, $g, $b), not the folder's red pictures"
stop_entry

# From the menu, no folder: the sample pictures, not white faces.
start_entry ""
coloured=0
for xy in "240 180" "220 160" "260 200" "230 210" "250 150"; do
  read -r r g b <<<"$(pixel $xy)"
  hi=$(( (r > g ? r : g) > b ? (r > g ? r : g) : b ))
  lo=$(( (r < g ? r : g) < b ? (r < g ? r : g) : b ))
  [ $((hi - lo)) -gt 60 ] && coloured=$((coloured + 1))
done
[ "$coloured" -gt 0 ] || fail "no coloured pixel near the centre: faces white?"
stop_entry

dpkg --purge vorlix >/dev/null || fail "dpkg --purge"
dpkg-query -W -f='${Status}' vorlix 2>/dev/null | grep -q "ok installed" &&
  fail "still installed"
while read -r f; do
  [ -z "$f" ] || [ -d "$f" ] || [ ! -e "$f" ] || fail "left behind: $f"
done <<<"$files"
for d in /usr/share/vorlix; do
  [ ! -e "$d" ] || fail "left behind: $d"
done
echo "package: lintian and hardening clean, opens pictures and the samples," \
  "removes cleanly"

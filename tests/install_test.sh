#!/usr/bin/env bash
# cmake --install into a fresh prefix puts every file where a desktop expects
# it; the desktop entry and the AppStream metainfo validate, and the entry
# runs the launcher on pictures of every kind the viewer reads, never on
# folders; the manual pages render without warnings.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/vorlix bin/vorlix-open libexec/vorlix/vorlix-decode \
  share/applications/vorlix.desktop \
  share/man/man6/vorlix.6 share/man/man6/vorlix-open.6 \
  share/vorlix/pictures/b{1,2,3,4,5,6}.jpg \
  share/metainfo/org.vorlix.vorlix.metainfo.xml \
  share/icons/hicolor/scalable/apps/vorlix.svg \
  share/icons/hicolor/{48x48,64x64,128x128,256x256}/apps/vorlix.png; do
  [ -f "$prefix/$f" ] || fail "missing $f"
done
[ -x "$prefix/bin/vorlix" ] && [ -x "$prefix/bin/vorlix-open" ] &&
  [ -x "$prefix/libexec/vorlix/vorlix-decode" ] ||
  fail "bin/vorlix, bin/vorlix-open or libexec/vorlix/vorlix-decode is not executable"
cmp -s "$prefix/share/vorlix/pictures/b1.jpg" "$(dirname "$0")/../pictures/b1.jpg" ||
  fail "installed b1.jpg differs from the bundled one"

entry=$build/vorlix.desktop
out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
grep -qx 'Type=Application' "$entry" || fail "no Type=Application"
grep -qx 'Name=Vorlix' "$entry" || fail "no Name=Vorlix"
exec=$(sed -n 's/^Exec=//p' "$entry")
case "$exec" in */bin/vorlix-open\ %F) ;; *) fail "Exec=$exec" ;; esac
grep -qx 'Icon=vorlix' "$entry" || fail "no Icon=vorlix"
grep -qx 'StartupWMClass=Vorlix' "$entry" || fail "no StartupWMClass=Vorlix"
types=$(sed -n 's/^MimeType=//p' "$entry")
for type in image/jpeg image/png image/gif image/bmp image/tiff image/webp \
  image/heic image/heif image/avif image/jxl image/x-tga \
  image/vnd.adobe.photoshop; do
  grep -q "\(^\|;\)$type;" <<<"$types" || fail "not offered for $type"
  grep -q "<mediatype>$type</mediatype>" \
    "$build/org.vorlix.vorlix.metainfo.xml" || fail "metainfo lacks $type"
done
! grep -q inode <<<"$types" || fail "offered for folders: $types"
# It plays clips, but must never become a computer's video player.
! grep -q video/ <<<"$types" || fail "offered for clips: $types"
! grep -q "<mediatype>video/" "$build/org.vorlix.vorlix.metainfo.xml" ||
  fail "metainfo offers it for clips"
for size in 48 64 128 256; do
  [ "$(identify -format %wx%h \
    "$prefix/share/icons/hicolor/${size}x$size/apps/vorlix.png")" = \
    "${size}x$size" ] || fail "icon ${size}x$size has another size"
done
out=$(appstreamcli validate --no-net \
  "$prefix/share/metainfo/org.vorlix.vorlix.metainfo.xml" 2>&1) ||
  fail "appstreamcli validate: $out"

for page in vorlix.6 vorlix-open.6; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$build/$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$page warnings: $warnings"
done
text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$build/vorlix.6" 2>/dev/null | tr -s "[:space:]" " ")
for word in b1.jpg b6.jpg -display "no quit key" white vorlix-open; do
  grep -qF -- "$word" <<<"$text" || fail "vorlix.6 does not mention $word"
done
text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$build/vorlix-open.6" 2>/dev/null | tr -s "[:space:]" " ")
for word in FOLDER XDG_RUNTIME_DIR notify-send "photo 10"; do
  grep -qiF -- "$word" <<<"$text" || fail "vorlix-open.6 does not mention $word"
done
echo "install: files, desktop entry and manual page are in order"

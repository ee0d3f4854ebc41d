#!/usr/bin/env bash
# cmake --install into a fresh prefix puts every file where a desktop expects
# it; the desktop entry and the AppStream metainfo validate, and the entry
# points at the installed pictures and opens folders; the manual page renders
# without warnings.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/vorlix share/applications/vorlix.desktop share/man/man6/vorlix.6 \
  share/vorlix/pictures/b{1,2,3,4,5,6}.jpg libexec/vorlix/open-folder \
  share/metainfo/org.vorlix.vorlix.metainfo.xml \
  share/icons/hicolor/scalable/apps/vorlix.svg \
  share/icons/hicolor/{48x48,64x64,128x128,256x256}/apps/vorlix.png; do
  [ -f "$prefix/$f" ] || fail "missing $f"
done
[ -x "$prefix/bin/vorlix" ] || fail "bin/vorlix is not executable"
cmp -s "$prefix/share/vorlix/pictures/b1.jpg" "$(dirname "$0")/../pictures/b1.jpg" ||
  fail "installed b1.jpg differs from the bundled one"

entry=$build/vorlix.desktop
out=$(desktop-file-validate "$entry" 2>&1) || fail "desktop-file-validate: $out"
[ -z "$out" ] || fail "desktop-file-validate: $out"
grep -qx 'Type=Application' "$entry" || fail "no Type=Application"
grep -qx 'Name=Vorlix' "$entry" || fail "no Name=Vorlix"
path=$(sed -n 's/^Path=//p' "$entry")
exec=$(sed -n 's/^Exec=//p' "$entry")
[ "$path" = "$(grep -o '^CMAKE_INSTALL_PREFIX:PATH=.*' "$build/CMakeCache.txt" |
  cut -d= -f2)/share/vorlix/pictures" ] || fail "Path=$path is not the pictures folder"
case "$exec" in */libexec/vorlix/open-folder\ %f) ;; *) fail "Exec=$exec" ;; esac
grep -qx 'Icon=vorlix' "$entry" || fail "no Icon=vorlix"
grep -qx 'MimeType=inode/directory;' "$entry" || fail "does not open folders"
for size in 48 64 128 256; do
  [ "$(identify -format %wx%h \
    "$prefix/share/icons/hicolor/${size}x$size/apps/vorlix.png")" = \
    "${size}x$size" ] || fail "icon ${size}x$size has another size"
done
out=$(appstreamcli validate --no-net \
  "$prefix/share/metainfo/org.vorlix.vorlix.metainfo.xml" 2>&1) ||
  fail "appstreamcli validate: $out"

page=$build/vorlix.6
warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
[ -z "$warnings" ] || fail "man page warnings: $warnings"
text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null)
for word in b1.jpg b6.jpg -display "no quit key" white; do
  grep -qF -- "$word" <<<"$text" || fail "man page does not mention $word"
done
echo "install: files, desktop entry and manual page are in order"

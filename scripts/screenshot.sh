#!/usr/bin/env bash
# Remakes docs/screenshot.png: the real viewer on the bundled pictures, in
# its own Xvfb, photographed from the X server after a moment of spinning.
# Needs xvfb, xdotool and imagemagick; builds the viewer first.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out="${1:-$here/docs/screenshot.png}"

if [ -z "${VORLIX_SCREENSHOT_XVFB:-}" ]; then
  cmake -S "$here" -B "$here/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$here/build" -- --no-print-directory >/dev/null
  VORLIX_SCREENSHOT_XVFB=1 exec xvfb-run -a \
    -s "-screen 0 1024x768x24 -nolisten tcp" "$0" "$out"
fi

cd "$here/pictures"
"$here/build/vorlix" &
pid=$!
wid=""
for _ in $(seq 50); do
  wid=$(xdotool search --name '^Vorlix$' 2>/dev/null | head -n 1) || true
  [ -n "$wid" ] && break
  sleep 0.1
done
sleep 0.7
import -window "$wid" "$out"
kill "$pid"

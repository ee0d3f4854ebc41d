#!/usr/bin/env bash
# Builds the parser fuzz target with clang's libFuzzer (and AddressSanitizer
# and UndefinedBehaviorSanitizer), and runs it for a fixed time on the seeds
# in tests/data/parser-seeds. Fails on a crash, a leak, an input that reads
# differently through a descriptor, or a hang.
#   run_parser_fuzz.sh SOURCE_DIR BUILD_DIR [SECONDS]
set -euo pipefail
src=$1 build=$2 seconds=${3:-30}
fuzzer="$build/parser_fuzz"
clang++ -std=c++17 -g -O1 -fsanitize=fuzzer,address,undefined \
  -fno-sanitize-recover=all -I "$src/src" \
  "$src/tests/fuzz/parser_fuzz.cpp" "$src/src/picture/bytes.cpp" \
  "$src/src/picture/kinds.cpp" "$src/src/picture/kind_headers.cpp" \
  "$src/src/picture/kind_contents.cpp" "$src/src/picture/live_photos.cpp" \
  "$src/src/picture/decoder/pixels/metadata.cpp" \
  "$src/src/picture/decoder/libraries/apng_chunks.cpp" \
  "$src/src/picture/decoder/libraries/gif_blocks.cpp" \
  "$src/src/picture/decoder/libraries/motion_photo.cpp" \
  -lz -o "$fuzzer"
# New inputs go to a corpus of this run's own; the seeds stay as they are.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"
status=0
(cd "$build" && "$fuzzer" -max_total_time="$seconds" -timeout=5 \
  -rss_limit_mb=2048 -print_final_stats=1 "$work/corpus" \
  "$src/tests/data/parser-seeds" >"$work/log" 2>&1) || status=$?
grep -E '^stat::(number_of_executed_units|new_units_added)' "$work/log"
if [ "$status" -ne 0 ]; then
  grep -A 30 -E '^==[0-9]+==ERROR|deadly signal|^ALARM|timeout' "$work/log" |
    head -n 60
  echo "parser fuzz: failed (status $status); the input is in $build"
fi
exit "$status"

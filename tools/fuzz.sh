#!/usr/bin/env bash
# Builds the libFuzzer targets natively (Clang, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs each for SECONDS (default 30), starting from the committed seeds. A crash is saved in
# build/fuzz/findings/TARGET/ and ends the run with a failure; copy it into tests/fuzz/seeds/TARGET
# as a regression case once mended.
#   tools/fuzz.sh            about 30 seconds per target (part of tools/test.sh)
#   tools/fuzz.sh 3600       the long run
set -euo pipefail
source "$(dirname "$0")/common.sh"
seconds=${1:-30}

ensure_packages
cmake -S "$ROOT" -B "$BUILD/fuzz" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
      -DCMAKE_CXX_COMPILER=clang++ -DQUINTARA_FUZZ=ON >/dev/null
cmake --build "$BUILD/fuzz" >/dev/null

# The JPEG reader's seeds: the committed ones and the shared corpus's JPEGs (read in place, through
# links), each behind a first byte that picks the scale.
jpeg_seeds="$BUILD/fuzz/seeds-jpeg"
rm -rf "$jpeg_seeds" && mkdir -p "$jpeg_seeds"
for f in "$ROOT"/../shared/corpus/*.jpg "$ROOT"/../shared/corpus/*.jpeg; do
  [ -f "$f" ] && [ "$(stat -c %s "$f")" -lt 1000000 ] && { printf '\001'; cat "$f"; } > "$jpeg_seeds/$(basename "$f")"
done

# The PNG reader's seeds: the shared corpus's PNGs of up to 100 KB, read in place.
png_seeds="$BUILD/fuzz/seeds-png"
rm -rf "$png_seeds" && mkdir -p "$png_seeds"
for f in "$ROOT"/../shared/corpus/*.png; do
  [ -f "$f" ] && [ "$(stat -c %s "$f")" -lt 100000 ] && ln -s "$f" "$png_seeds/$(basename "$f")"
done
# The PNG split's seed: 1100 by 640 (2.1 MB of rows in 9 KB), large enough for the reader's second
# thread.
split_seeds="$BUILD/fuzz/seeds-png-split"
rm -rf "$split_seeds" && mkdir -p "$split_seeds"
python3 - "$split_seeds/large.png" <<'PYTHON'
import struct, sys, zlib
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
rows = b"".join(b"\x01" + bytes((x * 7) & 0xFF for x in range(3300)) for _ in range(640))
ihdr = struct.pack(">IIBBBBB", 1100, 640, 8, 2, 0, 0, 0)
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")
open(sys.argv[1], "wb").write(png)
PYTHON

# The header walk's seeds: the shared corpus's BMP, GIF, ICO, TIFF, EMF and WMF files of up to 100 KB.
header_seeds="$BUILD/fuzz/seeds-headers"
rm -rf "$header_seeds" && mkdir -p "$header_seeds"
for f in "$ROOT"/../shared/corpus/*.bmp "$ROOT"/../shared/corpus/*.gif "$ROOT"/../shared/corpus/*.ico \
         "$ROOT"/../shared/corpus/*.tif "$ROOT"/../shared/corpus/*.tiff "$ROOT"/../shared/corpus/*.emf \
         "$ROOT"/../shared/corpus/*.wmf; do
  [ -f "$f" ] && [ "$(stat -c %s "$f")" -lt 100000 ] && ln -s "$f" "$header_seeds/$(basename "$f")"
done

# The BMP, GIF and TIFF readers' seeds: the shared corpus's BMPs, GIFs and TIFFs, and the AVIF
# files of the tests, each behind a first byte that picks the reader (the WebP reader's are
# committed).
image_seeds="$BUILD/fuzz/seeds-images"
rm -rf "$image_seeds" && mkdir -p "$image_seeds"
for f in "$ROOT"/../shared/corpus/*.bmp "$ROOT"/../shared/corpus/bmp/*/*.bmp "$ROOT"/../shared/corpus/*.gif \
         "$ROOT"/../shared/corpus/*.tif "$ROOT"/../shared/corpus/*.tiff "$ROOT"/tests/imaging/codecs/avif/*.avif; do
  [ -f "$f" ] && [ "$(stat -c %s "$f")" -lt 100000 ] &&
    { case "$f" in *.bmp) printf '\000' ;; *.gif) printf '\001' ;; *.avif) printf '\004' ;; *) printf '\002' ;; esac; cat "$f"; } > "$image_seeds/$(basename "$f")"
done

status=0
for target in parse_number format_number extract_field find_mid resize_parameter jpeg_reader png_reader png_split \
              gdiplus_headers image_readers; do
  work="$BUILD/fuzz/corpus/$target" findings="$BUILD/fuzz/findings/$target"
  mkdir -p "$work" "$findings"
  log="$BUILD/fuzz/$target.log"
  seeds=()
  [ -d "$ROOT/tests/fuzz/seeds/$target" ] && seeds+=("$ROOT/tests/fuzz/seeds/$target")
  [ "$target" = jpeg_reader ] && seeds+=("$jpeg_seeds")
  [ "$target" = png_reader ] && seeds+=("$png_seeds")
  [ "$target" = png_split ] && seeds+=("$split_seeds")
  [ "$target" = gdiplus_headers ] && seeds+=("$header_seeds")
  [ "$target" = image_readers ] && seeds+=("$image_seeds")
  # A time-out per input: an input that holds a target for seconds is a finding (a JPEG of many
  # scans must be stopped at the limit, not decoded).
  if "$BUILD/fuzz/bin/fuzz_$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 -rss_limit_mb=4096 \
       -artifact_prefix="$findings/" "$work" "${seeds[@]}" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    echo "fuzz $target: ${runs:-?} inputs in ${seconds} s, no failure"
  else
    echo "fuzz $target: FAILED (see $log and $findings)"
    grep -E 'property broken|ERROR|SUMMARY' "$log" | head -5
    status=1
  fi
done
exit $status

#!/usr/bin/env bash
# The benchmark: the plug-in against the tools a script author would call instead (vipsthumbnail,
# Pillow, ImageMagick), work by work and source format by source format, beside the codecs' own
# cost and GDI+'s single draw. Installs what it needs, builds, makes its inputs, and writes
# bench/results/results.md and its charts into docs/ (formats.png, seconds-per-megapixel.png,
# memory-per-megapixel.png).
#   bench/run.sh           the full run (about half an hour)
#   bench/run.sh --quick   fewer rounds and a shorter series, to check the bench itself
#   bench/run.sh --only NAME   one work (a row's name, or "48 MP memory"), for looking into one figure
#   bench/run.sh --redraw      the charts again from the last run's data, nothing run
set -euo pipefail
source "$(dirname "$0")/../tools/common.sh"

ensure_packages
missing=()
for p in imagemagick libvips-tools gnuplot-nox python3-pil libavif-bin; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing: ${missing[*]}"
  # A mirror caught mid-sync fails one list; what the other lists and the old ones name still installs.
  apt-get update -qq || say "apt-get update failed in part; installing from the lists there are"
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
build_windows >/dev/null
ensure_wineprefix
# Debian's own Python, which has Pillow, a contender.
exec /usr/bin/python3 "$ROOT/bench/bench.py" --build "$WIN_BUILD" --out "$ROOT/bench/results" --charts "$ROOT/docs" "$@"

#!/usr/bin/env bash
# The benchmark: the plug-in against GDI+'s own floor and against the command-line tools a script
# would call instead. Installs what it needs, builds, makes its inputs, and writes
# bench/results/results.md and bench/results/seconds-per-megapixel.png.
#   bench/run.sh           the full run (several minutes)
#   bench/run.sh --quick   fewer rounds and a shorter series, to check the bench itself
#   bench/run.sh --baseline DIR   also an earlier build (its DIR/bin/quintara-host.exe)
set -euo pipefail
source "$(dirname "$0")/../tools/common.sh"

ensure_packages
missing=()
for p in imagemagick libvips-tools gnuplot-nox python3-pil; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  say "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
build_windows >/dev/null
ensure_wineprefix
# Debian's own Python, which has Pillow for the GIF comparison.
exec /usr/bin/python3 "$ROOT/bench/bench.py" --build "$WIN_BUILD" --out "$ROOT/bench/results" "$@"

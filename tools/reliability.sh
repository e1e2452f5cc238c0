#!/usr/bin/env bash
# The full reliability runs, whose short forms are part of tools/test.sh:
#   - every libFuzzer target for FUZZ_SECONDS (default 600) each;
#   - 2,400 damaged variants of corpus images through both actions;
#   - 2,000 resizes and 2,000 metrics calls in one host process;
#   - the hostile names and places.
# Prints the figures docs/reliability.md quotes.
set -euo pipefail
source "$(dirname "$0")/common.sh"

ensure_packages
build_windows >/dev/null
ensure_wineprefix
"$ROOT/tools/fuzz.sh" "${FUZZ_SECONDS:-600}"
QUINTARA_DAMAGED_VARIANTS=2400 wine "$WIN_BUILD/bin/corpus_walk.exe" --gtest_filter='DamagedImages.*' 2>&1 |
  grep -E '^(damaged images|  (crashes|hangs) in)|^\[  (PASSED|FAILED)'
QUINTARA_LONG_RUN=2000 wine "$WIN_BUILD/bin/host_tests.exe" --gtest_filter='LongRun.*:HostileNames.*' 2>&1 |
  grep -E '^long run|^\[  (PASSED|FAILED)|^\[       OK \] HostileNames'

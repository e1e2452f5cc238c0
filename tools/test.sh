#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the 32-bit Windows build and the native build,
# runs each build's CTest entries (the test programs once each, under Wine for the Windows build,
# the package check and the fuzz run among them), and ends with one line
# "N passed, N failed, N skipped" counting every test case.
set -euo pipefail
source "$(dirname "$0")/common.sh"

ensure_packages
build_windows
cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$NATIVE_BUILD"
ensure_wineprefix

# Runs one build's CTest entries, two at a time (the fuzz run, on one core, beside the programs
# under Wine); a failure is counted from the reports, not here.
run_ctest() {
  local dir=$1
  rm -rf "$dir/test-results" "$dir/ctest-junit.xml"
  say "== ctest in ${dir#$ROOT/}"
  ctest --test-dir "$dir" -j2 --output-junit "$dir/ctest-junit.xml" --output-on-failure >&2 || true
}
run_ctest "$NATIVE_BUILD"
run_ctest "$WIN_BUILD"

# The figures the programs print: the fault sweep, the long run, the corpus walk, the package
# and the fuzz run.
grep -hE '^(fault sweep:|long run:|corpus walk|damaged images|  (crashes|hangs) in|package:|fuzz )|the shared image corpus' \
  "$WIN_BUILD/Testing/Temporary/LastTest.log" >&2 || true

python3 "$ROOT/tools/count_results.py" \
  "$NATIVE_BUILD/ctest-junit.xml" "$NATIVE_BUILD/test-results" \
  "$WIN_BUILD/ctest-junit.xml" "$WIN_BUILD/test-results"

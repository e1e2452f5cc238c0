#!/usr/bin/env bash
# Runs every test: installs what is missing, builds the 32-bit Windows build and the native
# build, runs the native tests under the sanitizers and each Windows test program once under
# Wine, and ends with one line "N passed, N failed, N skipped".
set -euo pipefail
source "$(dirname "$0")/common.sh"

ensure_packages
build_windows
build_clang
cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$NATIVE_BUILD"
ensure_wineprefix

LOGS="$BUILD/test-logs"
mkdir -p "$LOGS"
passed=0 failed=0 skipped=0 broken=()

# Runs one GoogleTest program and adds its counts; a program that dies counts as a failure.
run_gtest() {
  local name=$1; shift
  local log="$LOGS/$name.log" status=0
  say "== $name"
  "$@" >"$log" 2>&1 || status=$?
  local p f s
  p=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
  f=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
  s=$(sed -n 's/^\[  SKIPPED \] \([0-9]*\) test.*/\1/p' "$log" | tail -1)
  passed=$((passed + ${p:-0})); failed=$((failed + ${f:-0})); skipped=$((skipped + ${s:-0}))
  grep -E '^\[  (FAILED|SKIPPED) \] [A-Za-z]|: Failure$|^\[==========\]' "$log" >&2 || true
  if [ "$status" -ne 0 ] && [ -z "$f" ]; then
    say "$name ended with status $status before reporting (see $log)"
    tail -20 "$log" >&2
    failed=$((failed + 1)); broken+=("$name")
  fi
}

run_gtest text_tests_native "$NATIVE_BUILD/bin/text_tests_native"
run_gtest unit_tests wine "$WIN_BUILD/bin/unit_tests.exe"
run_gtest host_tests wine "$WIN_BUILD/bin/host_tests.exe"
grep -E '^long run:' "$LOGS/host_tests.log" >&2 || true
# The Clang build passes the same tests.
run_gtest unit_tests_clang wine "$CLANG_BUILD/bin/unit_tests.exe"
run_gtest host_tests_clang wine "$CLANG_BUILD/bin/host_tests.exe"

# The release package holds what the README says, and the DLL in it works.
say "== package"
if "$ROOT/tools/check_package.sh" >&2; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

# The libFuzzer targets, about 30 seconds each (QUINTARA_FUZZ_SECONDS to change).
say "== fuzz"
if "$ROOT/tools/fuzz.sh" "${QUINTARA_FUZZ_SECONDS:-30}" >&2; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

# Every corpus image through both actions; skips, saying so, where ../shared/corpus is absent.
run_gtest corpus_walk wine "$WIN_BUILD/bin/corpus_walk.exe"
grep -E '^(corpus walk|damaged images|  (crashes|hangs) in)|the shared image corpus' "$LOGS/corpus_walk.log" >&2 || true

echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]

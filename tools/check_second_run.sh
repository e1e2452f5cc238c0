#!/usr/bin/env bash
# The README's run command on a built tree, as a user calls it a second time: it must install,
# fetch and build no library again. Prints "second run: ok" or what it did; exits non-zero then.
set -euo pipefail
source "$(dirname "$0")/common.sh"

said=$("$ROOT/tools/run.sh" info 2>&1 >/dev/null) || { say "second run: tools/run.sh info failed: $said"; exit 1; }
if grep -E '^(building |installing:)|fetched' <<<"$said"; then
  say "second run: set-up work repeated"
  exit 1
fi
echo "second run: ok"

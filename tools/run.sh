#!/usr/bin/env bash
# Runs the plug-in's main job through the project's host: with no arguments, the demo (makes an
# input image and resizes it, in ./quintara-demo); otherwise the host's own commands, e.g.
#   tools/run.sh resize photo.jpg thumb.png 320 240
#   tools/run.sh metrics photo.jpg
#   tools/run.sh info
# Installs what is missing and builds first. File names are handed over as Windows paths.
set -euo pipefail
source "$(dirname "$0")/common.sh"

ensure_packages >&2
build_windows >/dev/null
ensure_wineprefix

# A Linux path that names an existing file, or a file with an extension in an existing folder,
# becomes a Windows path; everything else (numbers, action names, pipe-joined texts) is unchanged.
to_windows() {
  local arg=$1
  if [[ "$arg" != *"|"* ]] && { [ -e "$arg" ] ||
       { [[ "$(basename -- "$arg")" =~ \.[A-Za-z][A-Za-z0-9]*$ ]] && [ -d "$(dirname -- "$arg")" ]; }; }; then
    winepath -w -- "$arg" 2>/dev/null || printf '%s' "$arg"
  else
    printf '%s' "$arg"
  fi
}

if [ $# -eq 0 ]; then
  mkdir -p quintara-demo
  set -- demo quintara-demo
fi
args=()
for arg in "$@"; do args+=("$(to_windows "$arg")"); done
exec wine "$WIN_BUILD/bin/quintara-host.exe" "${args[@]}"

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

# A Linux file name becomes a Windows path; only the arguments that are file names of the command
# given are converted (resize's source and target, metrics' image, batch's file, demo's folder and
# --dll's plug-in), so that a file called 320 or info in the current folder changes nothing.
to_windows() {
  winepath -w -- "$1" 2>/dev/null || printf '%s' "$1"
}

if [ $# -eq 0 ]; then
  mkdir -p quintara-demo
  set -- demo quintara-demo
fi
args=()
while [ $# -ge 2 ] && { [ "$1" = --dll ] || [ "$1" = --watchdog ]; }; do
  if [ "$1" = --dll ]; then args+=("$1" "$(to_windows "$2")"); else args+=("$1" "$2"); fi
  shift 2
done
files=0  # how many of the command's arguments are file names
case "${1:-}" in
  resize) files=2 ;;
  metrics|batch|demo) files=1 ;;
esac
if [ $# -ge 1 ]; then args+=("$1"); shift; fi
for arg in "$@"; do
  if [ "$files" -gt 0 ] && [ "$arg" != --help ]; then
    args+=("$(to_windows "$arg")")
    files=$((files - 1))
  else
    args+=("$arg")
  fi
done
exec wine "$WIN_BUILD/bin/quintara-host.exe" "${args[@]}"

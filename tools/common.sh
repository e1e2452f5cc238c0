# Shared by the project's scripts: where things live and how Wine is run.
# Sourced, not executed.
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$ROOT/build"
WIN_BUILD="$BUILD/i686"
NATIVE_BUILD="$BUILD/native"

# Wine: a prefix of the project's own, no debug chatter, and no debugger on a crash, so that a
# crashing program ends instead of waiting at Wine's debugger.
export WINEPREFIX="${QUINTARA_WINEPREFIX:-$BUILD/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d"

say() { printf '%s\n' "$*" >&2; }

# Installs the Debian packages the build and the tests need; does nothing when all are there.
ensure_packages() {
  local want=(cmake ninja-build g++ python3 g++-mingw-w64-i686-posix wine wine32:i386 googletest
              clang libclang-rt-14-dev nasm meson dpkg-dev libjpeg62-turbo-dev libpng-dev zlib1g-dev libgif-dev libtiff-dev libwebp-dev liblcms2-dev)
  local missing=() p
  for p in "${want[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing: ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
  fi
  # A mirror caught mid-sync fails one list; what the other lists and the old ones name still installs.
  apt-get update -qq || say "apt-get update failed in part; installing from the lists there are"
  # With recommends: Wine's are what it was seen to work with here.
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
}

source "$ROOT/tools/libraries.sh"

# Configures and builds the 32-bit Windows build.
build_windows() {
  ensure_libraries
  cmake -S "$ROOT" -B "$WIN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" >/dev/null
  cmake --build "$WIN_BUILD"
}

# Creates the Wine prefix once, so that its first-use message does not land in a test's output.
ensure_wineprefix() {
  [ -f "$WINEPREFIX/system.reg" ] || wine cmd /c exit >/dev/null 2>&1 || true
}

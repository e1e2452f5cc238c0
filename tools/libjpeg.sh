#!/usr/bin/env bash
# Builds libjpeg-turbo for 32-bit Windows from Debian's source package, once, into
# build/libjpeg-turbo (skipped when its library is there): the JPEG decoder the plug-in links
# statically. Fetched without touching the machine's apt set-up: a sources file and lists folder
# of the build's own, made from the machine's own entries. Sourced by common.sh.

LIBJPEG_DIR="$BUILD/libjpeg-turbo"

ensure_libjpeg() {
  [ -f "$LIBJPEG_DIR/install/lib/libjpeg.a" ] && return 0
  say "building libjpeg-turbo from Debian's source package"
  local work="$LIBJPEG_DIR/work" f
  rm -rf "$work" && mkdir -p "$work/lists/partial" "$work/parts"
  # The machine's own entries, as deb-src: its deb822 files and its one-line list.
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" > "$work/parts/$(basename "$f")"
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list > "$work/parts/machine.list"
  fi
  local list=(-o Dir::Etc::SourceParts="$work/parts" -o Dir::Etc::SourceList=/dev/null)
  local apt=(-o APT::Sandbox::User=root -o Dir::State::Lists="$work/lists" "${list[@]}")
  apt-get "${apt[@]}" update -qq
  (cd "$work" && apt-get "${apt[@]}" source -qq libjpeg-turbo >/dev/null)
  local source
  source=$(find "$work" -maxdepth 1 -type d -name 'libjpeg-turbo-*' | head -1)
  cat > "$work/toolchain.cmake" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
TOOLCHAIN
  # NO_GETENV: the library reads no environment variable (JSIMD_FORCE*, JPEGMEM).
  cmake -S "$source" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_INSTALL_PREFIX="$LIBJPEG_DIR/install" \
        -DCMAKE_C_FLAGS="-DNO_GETENV" -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF -DREQUIRE_SIMD=ON \
        -Wno-dev >/dev/null
  cmake --build "$work/build" --target jpeg-static >/dev/null
  mkdir -p "$LIBJPEG_DIR/install/lib" "$LIBJPEG_DIR/install/include"
  cp "$work/build/libjpeg.a" "$LIBJPEG_DIR/install/lib/"
  cp "$work/build/jconfig.h" "$source/jpeglib.h" "$source/jmorecfg.h" "$source/jerror.h" \
     "$LIBJPEG_DIR/install/include/"
  cp "$source/LICENSE.md" "$source/README.ijg" "$LIBJPEG_DIR/install/" 2>/dev/null || true
}

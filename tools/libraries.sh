#!/usr/bin/env bash
# Builds the codec libraries the plug-in links statically (libjpeg-turbo, zlib, libpng, giflib,
# libtiff, libwebp, Little CMS and dav1d) for
# 32-bit Windows from Debian's source packages, once, into build/libraries/install (each skipped
# while its stamp matches its recipe). Fetched without touching the machine's apt set-up: a sources file
# and lists folder of the build's own, made from the machine's own entries. The archive may lack
# the files of a listed revision: the revisions are tried newest first. Sourced by common.sh.

LIBRARIES_DIR="$BUILD/libraries"
LIBRARIES_INSTALL="$LIBRARIES_DIR/install"

# apt-get and apt-cache options that read the build's own lists.
libraries_apt_options() {
  local work=$1
  echo -o APT::Sandbox::User=root -o Dir::State::Lists="$work/lists" \
       -o Dir::Etc::SourceParts="$work/parts" -o Dir::Etc::SourceList=/dev/null
}

# Makes the build's own source lists, once per run.
libraries_prepare_lists() {
  local work="$LIBRARIES_DIR/apt" f
  [ -f "$work/ready" ] && return 0
  rm -rf "$work" && mkdir -p "$work/lists/partial" "$work/parts"
  # The machine's own entries, as deb-src: its deb822 files and its one-line list.
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" > "$work/parts/$(basename "$f")"
  done
  if [ -f /etc/apt/sources.list ]; then
    sed -n 's/^deb \(.*\)/deb-src \1/p' /etc/apt/sources.list > "$work/parts/machine.list"
  fi
  # shellcheck disable=SC2046
  apt-get $(libraries_apt_options "$work") update -qq
  touch "$work/ready"
}

# Fetches and unpacks (with Debian's patches) the newest revision of source package $1 whose files
# the archive has, into folder $2; prints the unpacked folder.
libraries_fetch() {
  local package=$1 into=$2 apt="$LIBRARIES_DIR/apt" version
  libraries_prepare_lists
  rm -rf "$into" && mkdir -p "$into"
  # shellcheck disable=SC2046
  for version in $(apt-cache $(libraries_apt_options "$apt") showsrc "$package" |
                   sed -n 's/^Version: //p' | sort -u | sort -rV); do
    # shellcheck disable=SC2046
    if (cd "$into" && apt-get $(libraries_apt_options "$apt") source -qq "$package=$version" \
          >/dev/null 2>&1); then
      echo "$package $version" > "$into/revision"
      local unpacked=("$into"/*/)
      printf '%s\n' "${unpacked[0]%/}"
      return 0
    fi
    say "$package $version could not be fetched; trying an older revision"
    rm -rf "${into:?}"/*
  done
  say "no revision of $package could be fetched" && return 1
}

libraries_toolchain() {
  cat > "$LIBRARIES_DIR/toolchain.cmake" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR X86)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
TOOLCHAIN
}

# Configures and builds one library's CMake target: source folder, build folder, target, options.
libraries_cmake() {
  local source=$1 build=$2 target=$3
  shift 3
  cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$LIBRARIES_DIR/toolchain.cmake" \
        -DCMAKE_INSTALL_PREFIX="$LIBRARIES_INSTALL" -Wno-dev "$@" >/dev/null
  cmake --build "$build" --target "$target" >/dev/null
}

libraries_build_jpeg() {
  local work="$LIBRARIES_DIR/libjpeg-turbo" source
  source=$(libraries_fetch libjpeg-turbo "$work/source")
  # NO_GETENV: the library reads no environment variable (JSIMD_FORCE*, JPEGMEM).
  libraries_cmake "$source" "$work/build" jpeg-static -DCMAKE_C_FLAGS="-DNO_GETENV" \
        -DENABLE_SHARED=OFF -DWITH_TURBOJPEG=OFF -DREQUIRE_SIMD=ON
  cp "$work/build/libjpeg.a" "$LIBRARIES_INSTALL/lib/"
  cp "$work/build/jconfig.h" "$source/jpeglib.h" "$source/jmorecfg.h" "$source/jerror.h" \
     "$LIBRARIES_INSTALL/include/"
  # The library's own parts (its coefficient controller's, its entropy decoder's), for the
  # reader's split decode; alone in a folder, so that a native build keeps the system's jpeglib.h.
  mkdir -p "$LIBRARIES_INSTALL/include/libjpeg-turbo-source"
  cp "$source/jpegint.h" "$LIBRARIES_INSTALL/include/libjpeg-turbo-source/"
  cp "$source/LICENSE.md" "$LIBRARIES_INSTALL/licences/libjpeg-turbo.md"
}

libraries_build_zlib() {
  local work="$LIBRARIES_DIR/zlib" source
  source=$(libraries_fetch zlib "$work/source")
  libraries_cmake "$source" "$work/build" zlibstatic
  cp "$work/build/libzlibstatic.a" "$LIBRARIES_INSTALL/lib/libz.a"
  cp "$work/build/zconf.h" "$source/zlib.h" "$LIBRARIES_INSTALL/include/"
  sed -n '/Copyright notice/,$p' "$source/README" > "$LIBRARIES_INSTALL/licences/zlib.txt"
}

# libpng with its SSE2 row filters: the library has no run-time processor check of its own, so
# they are compiled alone at -msse2 and installed by the plug-in's hook (PNG_FILTER_OPTIMIZATIONS),
# which asks the processor first; the rest of the library runs on any processor.
libraries_build_png() {
  local work="$LIBRARIES_DIR/libpng" source f
  source=$(libraries_fetch libpng1.6 "$work/source")
  rm -rf "$work/build"
  libraries_cmake "$source" "$work/build" png_static -DPNG_SHARED=OFF -DPNG_TESTS=OFF \
        -DPNG_EXECUTABLES=OFF -DZLIB_LIBRARY="$LIBRARIES_INSTALL/lib/libz.a" \
        -DZLIB_INCLUDE_DIR="$LIBRARIES_INSTALL/include" \
        -DCMAKE_C_FLAGS="-DPNG_FILTER_OPTIMIZATIONS=quintara_png_filters"
  for f in intel_init filter_sse2_intrinsics; do
    i686-w64-mingw32-gcc-posix -O2 -msse2 -DPNG_INTEL_SSE_OPT=1 -I"$source" -I"$work/build" -I"$LIBRARIES_INSTALL/include" \
        -c "$source/intel/$f.c" -o "$work/build/$f.o"
  done
  i686-w64-mingw32-ar rs "$work/build/libpng16.a" "$work/build/intel_init.o" \
        "$work/build/filter_sse2_intrinsics.o" 2>/dev/null
  cp "$work/build/libpng16.a" "$LIBRARIES_INSTALL/lib/libpng.a"
  cp "$source/png.h" "$source/pngconf.h" "$work/build/pnglibconf.h" "$LIBRARIES_INSTALL/include/"
  cp "$source/LICENSE" "$LIBRARIES_INSTALL/licences/libpng.txt"
}

# giflib's encoder and decoder: six files that compile alone (no CMake build in the package).
libraries_build_gif() {
  local work="$LIBRARIES_DIR/giflib" source f
  source=$(libraries_fetch giflib "$work/source")
  rm -rf "$work/build" && mkdir -p "$work/build"
  for f in egif_lib dgif_lib gif_hash gifalloc gif_err openbsd-reallocarray; do
    i686-w64-mingw32-gcc-posix -O2 -c "$source/$f.c" -I"$source" -o "$work/build/$f.o"
  done
  i686-w64-mingw32-ar rcs "$LIBRARIES_INSTALL/lib/libgif.a" "$work/build"/*.o
  cp "$source/gif_lib.h" "$LIBRARIES_INSTALL/include/"
  cp "$source/COPYING" "$LIBRARIES_INSTALL/licences/giflib.txt"
}

# libtiff with the two codecs GDI+'s TIFF decoder has beyond its own (deflate through zlib, JPEG
# through libjpeg-turbo), the libraries above; every other codec, the tools, the tests and the
# C++ stream interface off.
libraries_build_tiff() {
  local work="$LIBRARIES_DIR/libtiff" source
  source=$(libraries_fetch tiff "$work/source")
  rm -rf "$work/build"
  libraries_cmake "$source" "$work/build" tiff -DBUILD_SHARED_LIBS=OFF -Dtiff-tools=OFF \
        -Dtiff-tests=OFF -Dtiff-contrib=OFF -Dtiff-docs=OFF -Dtiff-deprecated=OFF -Dcxx=OFF \
        -Dzlib=ON -Djpeg=ON -Dold-jpeg=ON -Djpeg12=OFF -Djbig=OFF -Dlerc=OFF -Dlzma=OFF -Dzstd=OFF \
        -Dwebp=OFF -Dlibdeflate=OFF -Dpixarlog=OFF \
        -DZLIB_LIBRARY="$LIBRARIES_INSTALL/lib/libz.a" -DZLIB_INCLUDE_DIR="$LIBRARIES_INSTALL/include" \
        -DJPEG_LIBRARY="$LIBRARIES_INSTALL/lib/libjpeg.a" -DJPEG_INCLUDE_DIR="$LIBRARIES_INSTALL/include"
  cp "$work/build/libtiff/libtiff.a" "$LIBRARIES_INSTALL/lib/"
  cp "$source/libtiff/tiffio.h" "$source/libtiff/tiff.h" "$work/build/libtiff/tiffconf.h" \
     "$source/libtiff/tiffvers.h" "$LIBRARIES_INSTALL/include/"
  cp "$source/LICENSE.md" "$LIBRARIES_INSTALL/licences/libtiff.md"
}

# libwebp (the plug-in links its decoder and demux library; the tests its encoder and mux library
# too, for their own WebP files); its SSE2 and SSE4.1 paths are chosen at run time by its own processor
# check; its own threads (Windows' threads) rebuild a lossy picture's rows beside its parsing.
libraries_build_webp() {
  local work="$LIBRARIES_DIR/libwebp" source
  source=$(libraries_fetch libwebp "$work/source")
  rm -rf "$work/build"
  libraries_cmake "$source" "$work/build" webp -DBUILD_SHARED_LIBS=OFF -DWEBP_USE_THREAD=ON \
        -DWEBP_BUILD_ANIM_UTILS=OFF -DWEBP_BUILD_CWEBP=OFF -DWEBP_BUILD_DWEBP=OFF \
        -DWEBP_BUILD_GIF2WEBP=OFF -DWEBP_BUILD_IMG2WEBP=OFF -DWEBP_BUILD_VWEBP=OFF \
        -DWEBP_BUILD_WEBPINFO=OFF -DWEBP_BUILD_WEBPMUX=OFF -DWEBP_BUILD_EXTRAS=OFF 2>/dev/null
  cmake --build "$work/build" --target webpdemux libwebpmux >/dev/null
  cp "$work/build"/libwebp.a "$work/build"/libwebpdemux.a "$work/build"/libwebpmux.a "$LIBRARIES_INSTALL/lib/"
  mkdir -p "$LIBRARIES_INSTALL/include/webp"
  cp "$source"/src/webp/{decode.h,demux.h,encode.h,mux.h,mux_types.h,types.h} "$LIBRARIES_INSTALL/include/webp/"
  # The incremental decoder's row hooks (a lossy picture's Y, U and V rows before libwebp's own
  # scaler), in a header of its source that names its neighbours by their place in the source.
  mkdir -p "$LIBRARIES_INSTALL/include/libwebp-source/src/dec" "$LIBRARIES_INSTALL/include/libwebp-source/src/webp"
  cp "$source/src/dec/vp8_dec.h" "$LIBRARIES_INSTALL/include/libwebp-source/src/dec/"
  cp "$source"/src/webp/{decode.h,types.h} "$LIBRARIES_INSTALL/include/libwebp-source/src/webp/"
  cp "$source/COPYING" "$LIBRARIES_INSTALL/licences/libwebp.txt"
}

# Little CMS, the colour engine for CMYK and CIELab sources: its C files compile alone (its own
# build is autotools), without threads of its own.
libraries_build_lcms() {
  local work="$LIBRARIES_DIR/lcms2" source f
  source=$(libraries_fetch lcms2 "$work/source")
  rm -rf "$work/build" && mkdir -p "$work/build"
  for f in "$source"/src/*.c; do
    i686-w64-mingw32-gcc-posix -O2 -DCMS_NO_PTHREADS=1 -I"$source/include" -c "$f" -o "$work/build/$(basename "$f" .c).o"
  done
  i686-w64-mingw32-ar rcs "$LIBRARIES_INSTALL/lib/liblcms2.a" "$work/build"/*.o
  cp "$source/include/lcms2.h" "$LIBRARIES_INSTALL/include/"
  cp "$source/COPYING" "$LIBRARIES_INSTALL/licences/lcms2.txt"
}

# dav1d, the AV1 decoder for AVIF sources: Meson with a cross file of its own, its x86 assembly by
# NASM (chosen at run time by its own processor check), static; its threads are Windows' own.
libraries_build_dav1d() {
  local work="$LIBRARIES_DIR/dav1d" source
  source=$(libraries_fetch dav1d "$work/source")
  rm -rf "$work/build"
  cat > "$work/cross.txt" <<CROSS
[binaries]
c = 'i686-w64-mingw32-gcc-posix'
ar = 'i686-w64-mingw32-ar'
strip = 'i686-w64-mingw32-strip'
windres = 'i686-w64-mingw32-windres'
nasm = 'nasm'
[host_machine]
system = 'windows'
cpu_family = 'x86'
cpu = 'i686'
endian = 'little'
CROSS
  meson setup "$work/build" "$source" --cross-file "$work/cross.txt" --buildtype release \
        --default-library static -Denable_tools=false -Denable_tests=false -Denable_examples=false \
        -Dlogging=false -Dbitdepths=8,16 >/dev/null
  ninja -C "$work/build" src/libdav1d.a >/dev/null
  cp "$work/build/src/libdav1d.a" "$LIBRARIES_INSTALL/lib/"
  mkdir -p "$LIBRARIES_INSTALL/include/dav1d"
  cp "$source"/include/dav1d/{common.h,data.h,dav1d.h,headers.h,picture.h} "$work/build/include/dav1d/version.h" \
     "$LIBRARIES_INSTALL/include/dav1d/"
  cp "$source/COPYING" "$LIBRARIES_INSTALL/licences/dav1d.txt"
}

# What decides how library $1 is built: its build function and the helpers every build calls.
# Its digest is the library's stamp, so that a changed recipe rebuilds that library alone.
libraries_recipe_digest() {
  declare -f "libraries_build_$1" libraries_cmake libraries_toolchain | sha256sum | cut -d' ' -f1
}

# Builds library $1 (named $2 to the user) unless its stamp holds today's recipe. The stamp is
# written only after a build that succeeded: its second line is the source revision fetched.
libraries_ensure() {
  local name=$1 label=$2 stamp="$LIBRARIES_INSTALL/stamps/$1" digest
  digest=$(libraries_recipe_digest "$name")
  [ -f "$stamp" ] && [ "$(head -n 1 "$stamp")" = "$digest" ] && return 0
  libraries_toolchain
  say "building $label"
  "libraries_build_$name"
  printf '%s\n%s\n' "$digest" "$(cat "$LIBRARIES_DIR/$label/source/revision" 2>/dev/null)" > "$stamp"
  LIBRARIES_BUILT=1
}

ensure_libraries() {
  mkdir -p "$LIBRARIES_INSTALL/lib" "$LIBRARIES_INSTALL/include" "$LIBRARIES_INSTALL/licences" \
           "$LIBRARIES_INSTALL/stamps"
  LIBRARIES_BUILT=0
  libraries_ensure jpeg libjpeg-turbo
  libraries_ensure zlib zlib
  libraries_ensure png libpng
  libraries_ensure gif giflib
  libraries_ensure tiff libtiff
  libraries_ensure webp libwebp
  libraries_ensure lcms lcms2
  libraries_ensure dav1d dav1d
  [ $LIBRARIES_BUILT -eq 0 ] || rm -rf "$LIBRARIES_DIR/apt"
}

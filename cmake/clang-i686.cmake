# The same 32-bit Windows target built with Clang and lld, on the MinGW-w64 headers and on the
# C++ library of the MinGW GCC (-posix variant). Checks that nothing compiles only by accident of
# one compiler.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(QUINTARA_TARGET i686-w64-mingw32)
set(QUINTARA_GCC_LIB /usr/lib/gcc/i686-w64-mingw32/12-posix)

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${QUINTARA_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${QUINTARA_TARGET})
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)

set(CMAKE_CXX_FLAGS_INIT
    "-isystem ${QUINTARA_GCC_LIB}/include/c++ -isystem ${QUINTARA_GCC_LIB}/include/c++/i686-w64-mingw32")
# -B picks GCC's crtbegin.o, which registers the DWARF unwind tables; with MinGW-w64's own
# crtbegin.o a thrown exception finds no handler and the program ends.
set(QUINTARA_LINK "-fuse-ld=lld -B${QUINTARA_GCC_LIB} -L${QUINTARA_GCC_LIB} -Wl,-Bstatic -lpthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${QUINTARA_LINK}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${QUINTARA_LINK}")

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR wine)

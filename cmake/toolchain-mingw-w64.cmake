# SPDX-License-Identifier: MIT
# Cross-build for 64-bit Windows with Debian's MinGW-w64 (the POSIX-threads
# flavour, g++-mingw-w64-x86-64-posix, whose runtime has std::thread) and
# its zlib (libz-mingw-w64-dev). The other compression libraries have no
# MinGW package: their formats are refused as in any build without them.
# Test programs, and the tool the tests start, run under Wine:
#
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The build machine's .pc files describe Linux libraries: none of them.
set(ENV{PKG_CONFIG_LIBDIR} /usr/x86_64-w64-mingw32/lib/pkgconfig)

# A static zlib, so that quenbrel.exe needs no DLL beyond Windows' own.
set(ZLIB_USE_STATIC_LIBS ON)
# The test programs likewise, with their runtime: Wine finds no DLL of
# the cross compiler.
set(CMAKE_EXE_LINKER_FLAGS_INIT -static)

find_program(QUENBREL_WINE wine)
if(QUENBREL_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUENBREL_WINE})
endif()

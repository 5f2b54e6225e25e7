# SPDX-License-Identifier: MIT
# Cross-build for 64-bit ARM Linux with Debian's cross compiler
# (g++-aarch64-linux-gnu) against the arm64 packages of the libraries
# (zlib1g-dev:arm64, libgtest-dev:arm64, ...; dpkg --add-architecture arm64),
# which multiarch installs under /usr/lib/aarch64-linux-gnu. Test programs,
# and the tool the tests start, run under qemu-user:
#
#   cmake -S . -B build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Programs come from the build machine; libraries and headers from the
# cross compiler's directory and the multiarch directories.
set(CMAKE_FIND_ROOT_PATH /usr/aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)

# pkg-config, for the optional libraries found through it, reads the
# target's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)

# The emulated programs run on the arm64 runtime of the multiarch packages
# (libc6:arm64, libstdc++6:arm64), loader and C library from the same
# package. "-L /" keeps it so: with "-L /usr/aarch64-linux-gnu" the
# emulator takes the cross packages' loader from there, while the loader
# cache sends it to the multiarch C library of another build, and the mix
# hangs at the first fork() or new thread.
find_program(QUENBREL_QEMU_AARCH64 qemu-aarch64)
if(QUENBREL_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${QUENBREL_QEMU_AARCH64} -L /)
endif()

# SPDX-License-Identifier: MIT
# The Windows build: quenbrel.exe, the library and the suites that run as
# Windows programs, cross-compiled with Debian's MinGW-w64 as a project of
# its own (cmake/toolchain-mingw-w64.cmake) by the target `windows` into
# build/windows. Optional: the Linux tool and its tests never need it. The
# test `windows` runs it under Wine.
#
#   QUENBREL_WINDOWS  AUTO (build it where MinGW-w64 and its zlib are
#                     installed), ON (fail the configure without them) or OFF
#
# Sets quenbrel_windows_build (the build's folder, empty when it is not
# built; the release archive is made there too) and quenbrel_windows_missing (what was missing, for the test's
# skip).
set(QUENBREL_WINDOWS AUTO CACHE STRING "Cross-build quenbrel.exe for Windows: AUTO, ON or OFF")
set_property(CACHE QUENBREL_WINDOWS PROPERTY STRINGS AUTO ON OFF)
string(TOUPPER "${QUENBREL_WINDOWS}" quenbrel_windows_choice)
set(quenbrel_windows_build "")
set(quenbrel_windows_missing "")

if(quenbrel_windows_choice STREQUAL "OFF")
  set(quenbrel_windows_missing "the Windows build is off (QUENBREL_WINDOWS=OFF)")
elseif(CMAKE_CROSSCOMPILING)
  set(quenbrel_windows_missing "this is a cross-build already")
else()
  find_program(QUENBREL_MINGW_CXX x86_64-w64-mingw32-g++-posix)
  if(NOT QUENBREL_MINGW_CXX)
    set(quenbrel_windows_missing
        "MinGW-w64 is not installed (Debian package g++-mingw-w64-x86-64-posix)")
  elseif(NOT EXISTS /usr/x86_64-w64-mingw32/lib/libz.a)
    set(quenbrel_windows_missing "MinGW-w64's zlib is not installed (Debian package libz-mingw-w64-dev)")
  endif()
  if(quenbrel_windows_missing AND quenbrel_windows_choice STREQUAL "ON")
    message(FATAL_ERROR "QUENBREL_WINDOWS=ON, but ${quenbrel_windows_missing}")
  endif()
endif()

if(quenbrel_windows_missing)
  message(STATUS "quenbrel: Windows build: not built: ${quenbrel_windows_missing}")
else()
  message(STATUS "quenbrel: Windows build: yes (${PROJECT_BINARY_DIR}/windows)")
  include(ExternalProject)
  # Make's job server does not reach an inner build: it gets its own jobs.
  cmake_host_system_information(RESULT quenbrel_windows_jobs QUERY NUMBER_OF_LOGICAL_CORES)
  ExternalProject_Add(windows
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${PROJECT_BINARY_DIR}/windows
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/toolchain-mingw-w64.cmake
               -DCMAKE_BUILD_TYPE=Release -DQUENBREL_WEB=OFF
               -DQUENBREL_BUILD_TESTS=${QUENBREL_BUILD_TESTS}
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> -j ${quenbrel_windows_jobs}
    # The release archive, quenbrel-VERSION-win64.zip.
    INSTALL_COMMAND ${CMAKE_CPACK_COMMAND} -G ZIP --config <BINARY_DIR>/CPackConfig.cmake -B <BINARY_DIR>
    # The inner build knows what changed; it is asked every time.
    BUILD_ALWAYS ON)
  set(quenbrel_windows_build ${PROJECT_BINARY_DIR}/windows)
endif()

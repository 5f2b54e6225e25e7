# SPDX-License-Identifier: MIT
# Compression libraries for compressed input and output.
#
# zlib is required: it reads gzip when ISA-L is not there, and writes BGZF
# when libdeflate is not there. The others are optional, each with a cache
# option AUTO (use it when found), ON (fail the configure when not found) or
# OFF (leave it out):
#
#   QUENBREL_WITH_ISAL        gzip through ISA-L's inflate (Debian: libisal-dev)
#   QUENBREL_WITH_ZSTD        zstd input and output (libzstd-dev)
#   QUENBREL_WITH_XZ          xz input (liblzma-dev)
#   QUENBREL_WITH_BZIP2       bzip2 input (libbz2-dev)
#   QUENBREL_WITH_LIBDEFLATE  BGZF output through libdeflate (libdeflate-dev)
#
# A format left out is still recognised by its magic bytes and refused with a
# message that names what is missing. Sets quenbrel_input_sources (the
# decoder sources to build), quenbrel_input_libraries (what they link) and
# quenbrel_input_definitions (QUENBREL_HAVE_<NAME> for each one built).
find_package(ZLIB REQUIRED)

set(quenbrel_input_sources src/input/gzip_zlib.cpp)
set(quenbrel_input_libraries ZLIB::ZLIB)
set(quenbrel_input_definitions)

# Declares QUENBREL_WITH_<NAME> and sets quenbrel_choice to its value.
macro(quenbrel_option name description)
  set(QUENBREL_WITH_${name} AUTO CACHE STRING "${description}: AUTO, ON or OFF")
  set_property(CACHE QUENBREL_WITH_${name} PROPERTY STRINGS AUTO ON OFF)
  string(TOUPPER "${QUENBREL_WITH_${name}}" quenbrel_choice)
  if(NOT quenbrel_choice MATCHES "^(AUTO|ON|OFF)$")
    message(FATAL_ERROR "QUENBREL_WITH_${name} must be AUTO, ON or OFF, not '${quenbrel_choice}'")
  endif()
endmacro()

# Adds SOURCE and TARGET to the build when the option allows and TARGET was
# found; ON without the library is a configure error.
macro(quenbrel_use name description source target)
  if(quenbrel_choice STREQUAL "OFF")
    message(STATUS "quenbrel: ${description}: off")
  elseif(NOT TARGET ${target})
    if(quenbrel_choice STREQUAL "ON")
      message(FATAL_ERROR "QUENBREL_WITH_${name}=ON, but ${description} was not found")
    endif()
    message(STATUS "quenbrel: ${description}: not found, left out")
  else()
    message(STATUS "quenbrel: ${description}: yes")
    list(APPEND quenbrel_input_sources ${source})
    list(APPEND quenbrel_input_libraries ${target})
    list(APPEND quenbrel_input_definitions QUENBREL_HAVE_${name})
  endif()
endmacro()

# A library found by its header and its file, as an imported target.
function(quenbrel_find_plain target header library)
  find_path(QUENBREL_${target}_INCLUDE_DIR ${header})
  find_library(QUENBREL_${target}_LIBRARY ${library})
  if(QUENBREL_${target}_INCLUDE_DIR AND QUENBREL_${target}_LIBRARY)
    add_library(quenbrel::${target} UNKNOWN IMPORTED)
    set_target_properties(quenbrel::${target} PROPERTIES
      IMPORTED_LOCATION "${QUENBREL_${target}_LIBRARY}"
      INTERFACE_INCLUDE_DIRECTORIES "${QUENBREL_${target}_INCLUDE_DIR}")
  endif()
endfunction()

# Each library is looked for only when it may be used, so that OFF really
# leaves it out.
quenbrel_option(ISAL "ISA-L (gzip)")
if(NOT quenbrel_choice STREQUAL "OFF")
  quenbrel_find_plain(isal isa-l/igzip_lib.h isal)
endif()
quenbrel_use(ISAL "ISA-L (gzip)" src/input/gzip_isal.cpp quenbrel::isal)

quenbrel_option(ZSTD "libzstd (zstd)")
if(NOT quenbrel_choice STREQUAL "OFF")
  quenbrel_find_plain(zstd zstd.h zstd)
endif()
quenbrel_use(ZSTD "libzstd (zstd)" src/input/zstd.cpp quenbrel::zstd)
if(QUENBREL_HAVE_ZSTD IN_LIST quenbrel_input_definitions)
  list(APPEND quenbrel_input_sources src/output/zstd_out.cpp)
endif()

quenbrel_option(XZ "liblzma (xz)")
if(NOT quenbrel_choice STREQUAL "OFF")
  find_package(LibLZMA QUIET)
endif()
quenbrel_use(XZ "liblzma (xz)" src/input/xz.cpp LibLZMA::LibLZMA)

quenbrel_option(BZIP2 "libbz2 (bzip2)")
if(NOT quenbrel_choice STREQUAL "OFF")
  find_package(BZip2 QUIET)
endif()
quenbrel_use(BZIP2 "libbz2 (bzip2)" src/input/bzip2.cpp BZip2::BZip2)

quenbrel_option(LIBDEFLATE "libdeflate (BGZF output)")
if(NOT quenbrel_choice STREQUAL "OFF")
  quenbrel_find_plain(libdeflate libdeflate.h deflate)
endif()
quenbrel_use(LIBDEFLATE "libdeflate (BGZF output)" src/output/bgzf_libdeflate.cpp
             quenbrel::libdeflate)

# BGZF input's members are inflated whole by the fastest library built in:
# ISA-L's inflate, then libdeflate's; zlib's always works.
if(QUENBREL_HAVE_ISAL IN_LIST quenbrel_input_definitions)
  list(APPEND quenbrel_input_sources src/input/member_inflate_isal.cpp)
elseif(QUENBREL_HAVE_LIBDEFLATE IN_LIST quenbrel_input_definitions)
  list(APPEND quenbrel_input_sources src/input/member_inflate_libdeflate.cpp)
else()
  list(APPEND quenbrel_input_sources src/input/member_inflate_zlib.cpp)
endif()

# SPDX-License-Identifier: MIT
# Debian package of the install tree, made after a build with
#
#   cpack -G DEB --config build/CPackConfig.cmake
#
# as quenbrel_<version>_<arch>.deb for the prefix /usr. Its Depends field is
# worked out by dpkg-shlibdeps (Debian package dpkg-dev, which CPack runs
# with the help of file) from the libraries the tool links, so it names zlib
# and every other library the build chose.
# Included from the top-level CMakeLists.txt with the install rules.

# On Windows: quenbrel-<version>-win64.zip instead, made with
#
#   cpack -G ZIP --config build/windows/CPackConfig.cmake
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_NAME quenbrel)
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_FILE_NAME quenbrel-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
  set(CPACK_STRIP_FILES ON)
  include(CPack)
  return()
endif()

set(QUENBREL_DEB_MAINTAINER "quenbrel developers <quenbrel@example.org>" CACHE STRING
    "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quenbrel)
set(CPACK_PACKAGE_VENDOR "the quenbrel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert IG and FASTA sequence files to FASTA")
set(CPACK_PACKAGE_DESCRIPTION [[
quenbrel reads molecular-biology sequence files in the IG text format, or in
FASTA, plain or compressed, and writes them as FASTA with the residues
re-wrapped. It can also upper-case them and drop unsequenced bases.

The package also holds the C++ utility library the tool is built on, with
its header, CMake package and pkg-config file.]])
# Binaries and shared libraries lose their debugging symbols in the package.
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUENBREL_DEB_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(BUILD_SHARED_LIBS)
  # The shared library: a shlibs file for the packages built on it, and the
  # loader cache refreshed through dpkg's trigger.
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/triggers)
endif()

# Debian wants the manual page compressed and a copyright file and changelog
# in /usr/share/doc/quenbrel; a plain `cmake --install` has no use for them,
# so they are added to the staged tree just before it is packed.
string(TIMESTAMP QUENBREL_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(QUENBREL_DEB_DIR ${CMAKE_CURRENT_BINARY_DIR}/debian)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/changelog.in ${QUENBREL_DEB_DIR}/changelog @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/debian/copyright ${QUENBREL_DEB_DIR}/copyright COPYONLY)
set(CPACK_QUENBREL_DEB_DIR ${QUENBREL_DEB_DIR})
set(CPACK_QUENBREL_MANDIR ${CMAKE_INSTALL_MANDIR})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian/stage.cmake)

include(CPack)

# SPDX-License-Identifier: MIT
# Install rules, included from the top-level CMakeLists.txt when QUENBREL_INSTALL
# is on (the default for a top-level build).
#
#   bin/quenbrel
#   lib/libquenbrel.a (or .so with BUILD_SHARED_LIBS=ON)
#   include/quenbrel/functions.h     consumers write <quenbrel/functions.h>
#   lib/cmake/quenbrel/              find_package(quenbrel) -> quenbrel::functions
#   lib/pkgconfig/quenbrel.pc        pkg-config --cflags --libs quenbrel
#   share/man/man1/quenbrel.1
include(CMakePackageConfigHelpers)

set(QUENBREL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/quenbrel)
set(QUENBREL_PKGCONFIG_DIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# A shared build's tool finds its library relative to itself, so the tree
# can be installed under any prefix; in a system library directory the
# loader finds it anyway and no search path is recorded.
list(FIND CMAKE_CXX_IMPLICIT_LINK_DIRECTORIES "${CMAKE_INSTALL_FULL_LIBDIR}" _quenbrel_system_lib)
if(BUILD_SHARED_LIBS AND _quenbrel_system_lib EQUAL -1 AND NOT IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  file(RELATIVE_PATH _quenbrel_bin_to_lib
       ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR} ${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})
  set_target_properties(quenbrel PROPERTIES INSTALL_RPATH "$ORIGIN/${_quenbrel_bin_to_lib}")
endif()

if(WIN32)
  # Windows' archive holds the tool at its top, beside README, LICENSE and
  # the manual page as text (Windows has no man), rendered here by groff.
  install(TARGETS quenbrel RUNTIME DESTINATION .)
  install(FILES README.md LICENSE DESTINATION .)
  find_program(QUENBREL_GROFF groff)
  if(QUENBREL_GROFF)
    add_custom_command(OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/quenbrel.txt
      COMMAND ${QUENBREL_GROFF} -man -Tascii -P-cbou ${PROJECT_SOURCE_DIR}/doc/quenbrel.1
              > ${CMAKE_CURRENT_BINARY_DIR}/quenbrel.txt
      DEPENDS ${PROJECT_SOURCE_DIR}/doc/quenbrel.1 VERBATIM)
    add_custom_target(quenbrel_manual_text ALL DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/quenbrel.txt)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quenbrel.txt DESTINATION .)
  endif()
else()
  install(TARGETS quenbrel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS quenbrel_functions EXPORT quenbrelTargets
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES src/lib/functions.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/quenbrel)
if(NOT WIN32)
  install(FILES doc/quenbrel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# CMake package: exported targets under quenbrel::, a config file and a
# version file (same major version is compatible).
install(EXPORT quenbrelTargets NAMESPACE quenbrel:: FILE quenbrelTargets.cmake
  DESTINATION ${QUENBREL_CMAKE_DIR})
configure_package_config_file(cmake/quenbrelConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/quenbrelConfig.cmake
  INSTALL_DESTINATION ${QUENBREL_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/quenbrelConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quenbrelConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/quenbrelConfigVersion.cmake
  DESTINATION ${QUENBREL_CMAKE_DIR})

# pkg-config: the prefix is found from the .pc file's own place, so the file
# stays right whatever prefix or staging directory the tree is installed to.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(QUENBREL_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(QUENBREL_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  file(RELATIVE_PATH _quenbrel_pc_to_prefix
       ${CMAKE_INSTALL_PREFIX}/${QUENBREL_PKGCONFIG_DIR} ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" _quenbrel_pc_to_prefix "${_quenbrel_pc_to_prefix}")
  set(QUENBREL_PC_PREFIX "\${pcfiledir}/${_quenbrel_pc_to_prefix}")
  set(QUENBREL_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(QUENBREL_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(QUENBREL_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
configure_file(cmake/quenbrel.pc.in ${CMAKE_CURRENT_BINARY_DIR}/quenbrel.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/quenbrel.pc DESTINATION ${QUENBREL_PKGCONFIG_DIR})

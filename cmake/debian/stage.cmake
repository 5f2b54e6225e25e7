# SPDX-License-Identifier: MIT
# Run by CPack on the staged install tree before it packs the Debian package:
# compresses the manual page and adds the copyright file and the changelog.
set(root "${CPACK_TEMPORARY_INSTALL_DIRECTORY}${CPACK_PACKAGING_INSTALL_PREFIX}")
set(doc "${root}/share/doc/${CPACK_PACKAGE_NAME}")

# gzip -n leaves out the name and time stamp, so the package is the same
# from one build to the next.
function(quenbrel_gzip file)
  execute_process(COMMAND gzip -9nf "${file}" RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "gzip ${file} failed: ${status}")
  endif()
endfunction()

file(GLOB pages "${root}/${CPACK_QUENBREL_MANDIR}/man*/*")
foreach(page IN LISTS pages)
  if(NOT page MATCHES "\\.gz$")
    quenbrel_gzip("${page}")
  endif()
endforeach()

file(COPY "${CPACK_QUENBREL_DEB_DIR}/copyright" "${CPACK_QUENBREL_DEB_DIR}/changelog"
     DESTINATION "${doc}" FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
quenbrel_gzip("${doc}/changelog")

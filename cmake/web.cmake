# SPDX-License-Identifier: MIT
# The browser page (web/): the engine compiled to WebAssembly by Emscripten,
# as a project of its own (web/CMakeLists.txt) built by the target `web`
# into build/web/page. Optional: the tool and its tests never need it.
#
#   QUENBREL_WEB  AUTO (build the page when Emscripten and the page's npm
#                 packages are there), ON (fail the configure without them)
#                 or OFF
#
# Sets quenbrel_web_page (the page's folder, empty when it is not built) and
# quenbrel_web_missing (what was missing, for the browser test's skip).
set(QUENBREL_WEB AUTO CACHE STRING "Build the browser page (web/): AUTO, ON or OFF")
set_property(CACHE QUENBREL_WEB PROPERTY STRINGS AUTO ON OFF)
string(TOUPPER "${QUENBREL_WEB}" quenbrel_web_choice)
set(quenbrel_web_page "")
set(quenbrel_web_missing "")

if(quenbrel_web_choice STREQUAL "OFF")
  set(quenbrel_web_missing "the page is not built (QUENBREL_WEB=OFF)")
else()
  find_program(QUENBREL_EMCMAKE emcmake)
  if(NOT QUENBREL_EMCMAKE)
    set(quenbrel_web_missing "Emscripten is not installed (Debian packages emscripten, node-acorn)")
  elseif(NOT EXISTS ${PROJECT_SOURCE_DIR}/web/node_modules/pako/lib/zlib/inflate.js)
    set(quenbrel_web_missing "the page's npm packages are not installed (npm ci in web/)")
  endif()
  if(quenbrel_web_missing AND quenbrel_web_choice STREQUAL "ON")
    message(FATAL_ERROR "QUENBREL_WEB=ON, but ${quenbrel_web_missing}")
  endif()
endif()

if(quenbrel_web_missing)
  message(STATUS "quenbrel: browser page: not built: ${quenbrel_web_missing}")
else()
  message(STATUS "quenbrel: browser page: yes (${PROJECT_BINARY_DIR}/web/page)")
  include(ExternalProject)
  # Debian's Emscripten finds the JavaScript parser its optimiser needs
  # (node-acorn) through NODE_PATH.
  set(quenbrel_web_env ${CMAKE_COMMAND} -E env NODE_PATH=/usr/share/nodejs)
  ExternalProject_Add(web
    SOURCE_DIR ${PROJECT_SOURCE_DIR}/web
    BINARY_DIR ${PROJECT_BINARY_DIR}/web
    CONFIGURE_COMMAND ${quenbrel_web_env} ${QUENBREL_EMCMAKE} ${CMAKE_COMMAND}
                      -S <SOURCE_DIR> -B <BINARY_DIR> -DCMAKE_BUILD_TYPE=Release
    BUILD_COMMAND ${quenbrel_web_env} ${CMAKE_COMMAND} --build <BINARY_DIR>
    INSTALL_COMMAND ""
    # The inner build knows what changed; it is asked every time.
    BUILD_ALWAYS ON)
  set(quenbrel_web_page ${PROJECT_BINARY_DIR}/web/page)
endif()

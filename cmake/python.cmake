# SPDX-License-Identifier: MIT
# The Python module (src/python, the package's files in python/quenbrel):
# the extension quenbrel._quenbrel over the same engine, built with
# pybind11 into build/python/quenbrel beside the package's Python files,
# so that build/python is a folder to import it from.
#
#   QUENBREL_PYTHON  AUTO (build it where pybind11 and Python's headers are
#                    installed), ON (fail the configure without them) or OFF
#   Python_EXECUTABLE  the interpreter to build for; by default the first of
#                    python3 on PATH and /usr/bin/python3 that has pybind11
#                    (Debian's python3-pybind11 is the system interpreter's)
#
# Sets quenbrel_python_built (the module is built) and
# quenbrel_python_missing (what was missing, for the tests' skip).
set(QUENBREL_PYTHON AUTO CACHE STRING "Build the Python module: AUTO, ON or OFF")
set_property(CACHE QUENBREL_PYTHON PROPERTY STRINGS AUTO ON OFF)
string(TOUPPER "${QUENBREL_PYTHON}" quenbrel_python_choice)
set(quenbrel_python_built FALSE)
set(quenbrel_python_missing "")

if(quenbrel_python_choice STREQUAL "OFF")
  set(quenbrel_python_missing "the Python module is off (QUENBREL_PYTHON=OFF)")
elseif(CMAKE_CROSSCOMPILING OR EMSCRIPTEN)
  set(quenbrel_python_missing "this is a cross-build")
else()
  if(NOT Python_EXECUTABLE)
    find_program(quenbrel_path_python python3)
    foreach(candidate ${quenbrel_path_python} /usr/bin/python3)
      if(EXISTS "${candidate}")
        execute_process(COMMAND "${candidate}" -c "import pybind11"
                        RESULT_VARIABLE quenbrel_no_pybind11 OUTPUT_QUIET ERROR_QUIET)
        if(quenbrel_no_pybind11 EQUAL 0)
          set(Python_EXECUTABLE "${candidate}" CACHE FILEPATH "The Python interpreter")
          break()
        endif()
      endif()
    endforeach()
  endif()
  if(Python_EXECUTABLE)
    find_package(Python COMPONENTS Interpreter Development.Module)
  endif()
  if(NOT Python_EXECUTABLE)
    set(quenbrel_python_missing "no Python with pybind11 (Debian packages python3-pybind11, pybind11-dev)")
  elseif(NOT Python_Development.Module_FOUND)
    set(quenbrel_python_missing "Python's headers are not installed (Debian package python3-dev)")
  else()
    set(PYBIND11_FINDPYTHON ON)
    find_package(pybind11 2.6 CONFIG QUIET)
    if(NOT pybind11_FOUND)
      set(quenbrel_python_missing "pybind11 is not installed (Debian package pybind11-dev)")
    endif()
  endif()
  if(quenbrel_python_missing AND quenbrel_python_choice STREQUAL "ON")
    message(FATAL_ERROR "QUENBREL_PYTHON=ON, but ${quenbrel_python_missing}")
  endif()
endif()

if(quenbrel_python_missing)
  message(STATUS "quenbrel: Python module: not built: ${quenbrel_python_missing}")
  return()
endif()
message(STATUS "quenbrel: Python module: yes (${Python_EXECUTABLE}, ${PROJECT_BINARY_DIR}/python)")
set(quenbrel_python_built TRUE)

# The engine goes into a shared object: position-independent, and still
# calling its own functions directly, as in the executable.
set_target_properties(quenbrel_engine quenbrel_cli PROPERTIES POSITION_INDEPENDENT_CODE ON)
include(CheckCXXCompilerFlag)
check_cxx_compiler_flag(-fno-semantic-interposition quenbrel_has_no_interposition)
if(quenbrel_has_no_interposition)
  target_compile_options(quenbrel_engine PRIVATE -fno-semantic-interposition)
  target_compile_options(quenbrel_cli PRIVATE -fno-semantic-interposition)
endif()

set(quenbrel_python_package ${PROJECT_BINARY_DIR}/python/quenbrel)
# The engine is optimised as the tool's is; pybind11's link-time
# optimisation and stripping are left out (NO_EXTRAS).
pybind11_add_module(quenbrel_python MODULE NO_EXTRAS
  src/python/module.cpp
  src/python/convert_call.cpp
  src/python/errors.cpp
  src/python/host_io.cpp
  src/python/records.cpp)
set_target_properties(quenbrel_python PROPERTIES OUTPUT_NAME _quenbrel
  LIBRARY_OUTPUT_DIRECTORY ${quenbrel_python_package})
target_link_libraries(quenbrel_python PRIVATE quenbrel_cli quenbrel_engine quenbrel_functions
                      quenbrel_warnings)

# The package's Python files beside the extension.
file(GLOB quenbrel_python_files CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/python/quenbrel/*)
foreach(f ${quenbrel_python_files})
  get_filename_component(n ${f} NAME)
  add_custom_command(OUTPUT ${quenbrel_python_package}/${n}
                     COMMAND ${CMAKE_COMMAND} -E copy ${f} ${quenbrel_python_package}/${n}
                     DEPENDS ${f})
  list(APPEND quenbrel_python_copies ${quenbrel_python_package}/${n})
endforeach()
add_custom_target(quenbrel_python_files ALL DEPENDS ${quenbrel_python_copies})
add_dependencies(quenbrel_python quenbrel_python_files)

# SPDX-License-Identifier: MIT
# Checked builds, kept apart from the main list so they stay easy to find.
#
# QUENBREL_SANITIZE: everything (library, engine, tool, tests) runs under
# AddressSanitizer and UndefinedBehaviorSanitizer; the first report ends the
# process with a failure, so a test run fails on any report.
#
# QUENBREL_FUZZ: builds the libFuzzer targets under fuzz/ (clang only). The
# whole build is then instrumented for coverage and sanitized, so that the
# fuzzers see the library code they drive.
#
# QUENBREL_TSAN: everything runs under ThreadSanitizer instead, for the
# paths that read or write on threads of their own; the first report ends
# the process with a failure.
option(QUENBREL_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QUENBREL_TSAN "Build with ThreadSanitizer" OFF)
option(QUENBREL_FUZZ "Build the libFuzzer targets (needs clang++)" OFF)

if(QUENBREL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QUENBREL_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  set(QUENBREL_SANITIZE ON CACHE BOOL "Build with AddressSanitizer and UndefinedBehaviorSanitizer" FORCE)
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

if(QUENBREL_SANITIZE)
  set(quenbrel_sanitizers -fsanitize=address,undefined)
  add_compile_options(${quenbrel_sanitizers} -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  add_link_options(${quenbrel_sanitizers})
endif()

if(QUENBREL_TSAN)
  if(QUENBREL_SANITIZE)
    message(FATAL_ERROR "QUENBREL_TSAN and QUENBREL_SANITIZE cannot be combined")
  endif()
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=thread)
endif()

# SPDX-License-Identifier: MIT
# The engine's sources that every build of it compiles, the command line's
# and the browser page's alike, relative to the project's root: the record
# state machine, the portable packing kernel and its registry, the input
# layer's front end and the output layer, and the byte layer's backends for
# the system it is built for. Each build adds what it links against
# (decoders, BGZF backends, the BGZF input workers).
set(quenbrel_engine_sources
  src/engine/converter.cpp
  src/engine/fragment.cpp
  src/engine/line_len.cpp
  src/engine/run.cpp
  src/kernels/registry.cpp
  src/kernels/portable.cpp
  src/input/input.cpp
  src/input/formats.cpp
  src/input/read_ahead.cpp
  src/input/path_trial.cpp
  src/input/decoder.cpp
  src/input/gzip_inflater.cpp
  src/common/bytes.cpp
  src/common/pool.cpp
  src/common/crc32.cpp
  src/output/output.cpp
  src/output/sink.cpp
  src/output/plan.cpp
  src/output/compressed.cpp
  src/output/bgzf.cpp
  src/output/huffman.cpp
  src/output/faidx.cpp
  src/output/index.cpp
  src/output/dictionary.cpp
  src/output/md5.cpp
  src/output/names.cpp
  src/output/twobit.cpp)

# What is written once per system: the byte layer's descriptor backend
# (with the engine) and the platform layer (src/common/platform.h; built
# into the utility library, whose file helpers use it too, and so reaching
# the engine through it): Windows, or POSIX (Linux, macOS, the browser's
# Emscripten runtime). quenbrel_platform_libraries: what the platform layer
# links.
if(WIN32)
  list(APPEND quenbrel_engine_sources src/common/bytes_win32.cpp)
  set(quenbrel_platform_sources src/common/platform.cpp src/common/platform_win32.cpp)
  set(quenbrel_platform_libraries shell32)
else()
  list(APPEND quenbrel_engine_sources src/common/bytes_posix.cpp)
  set(quenbrel_platform_sources src/common/platform.cpp src/common/platform_posix.cpp)
  set(quenbrel_platform_libraries)
endif()

// SPDX-License-Identifier: MIT
// Compressed output: the output's format and settings, and the sink that
// compresses on a pool of workers while the engine converts.
#ifndef QUENBREL_OUTPUT_COMPRESSED_H
#define QUENBREL_OUTPUT_COMPRESSED_H

#include <cstdio>
#include <memory>

#include "sink.h"

class OutputIndex;

enum class OutputFormat { kPlain, kBgzf, kZstd };

// Levels of zstd output (libzstd's regular ones; higher ones need windows
// far beyond this tool's memory).
constexpr int kZstdLevelMin = 1;
constexpr int kZstdLevelMax = 19;

// The defaults, chosen by measurement (see bench/run): BGZF at 1 is about
// four times as fast as at 6 on sequence text and only some 6 % larger;
// zstd at 3 is its own default, as fast as BGZF at 1 and a third smaller.
constexpr int kBgzfLevelDefault = 1;
constexpr int kZstdLevelDefault = 3;

// Whether zstd output was built in (libzstd).
bool zstdOutputBuilt();

// The output stream `F` as a sink in `format` at `level`, compressed on
// `threads` workers (1: on the caller's thread). Block boundaries of BGZF
// output go to `index` when it is given.
std::unique_ptr<Sink> makeOutputSink(FILE* F, OutputFormat format, int level, int threads,
                                     OutputIndex* index);

#endif  // QUENBREL_OUTPUT_COMPRESSED_H

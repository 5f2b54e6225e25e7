// SPDX-License-Identifier: MIT
// zstd output: each chunk of the output a frame of its own, with its size
// and checksum, so that workers compress chunks independently; readers
// read concatenated frames as one stream. Built with libzstd
// (zstd_out.cpp); without it zstd output is refused before any sink is
// made.
#ifndef QUENBREL_OUTPUT_ZSTD_OUT_H
#define QUENBREL_OUTPUT_ZSTD_OUT_H

#include <cstddef>
#include <memory>

#include "common/pool.h"

// Levels of zstd output (libzstd's regular ones; higher ones need windows
// far beyond this tool's memory), and the default: zstd's own, as fast as
// zstd -3 and about 1 % larger (bench/run, 60 MB of 60-column FASTA).
constexpr int kZstdLevelMin = 1;
constexpr int kZstdLevelMax = 19;
constexpr int kZstdLevelDefault = 3;

// Whether zstd output was built in.
bool zstdOutputBuilt();

// A worker's compressor of chunks into frames at `level`.
std::unique_ptr<PoolTask> zstdTask(int level);
// Plain bytes per frame, and the most a frame of them can take.
size_t zstdChunk();
size_t zstdBound();

#endif  // QUENBREL_OUTPUT_ZSTD_OUT_H

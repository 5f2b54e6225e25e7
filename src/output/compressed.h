// SPDX-License-Identifier: MIT
// Compressed output: the output's format and settings, and the sink that
// compresses on a pool of workers while the engine converts.
#ifndef QUENBREL_OUTPUT_COMPRESSED_H
#define QUENBREL_OUTPUT_COMPRESSED_H

#include <memory>

#include "output/plan.h"
#include "output/sink.h"
#include "output/zstd_out.h"

class OutputIndex;

// BGZF's default level, chosen by measurement (bench/run, 60 MB of
// 60-column FASTA): at 1 sequence text is coded with Huffman codes alone,
// at some 1 GB/s per thread, four times libdeflate's level 1, and 13 %
// smaller than it, within 1.2 % of level 6.
constexpr int kBgzfLevelDefault = 1;

// Sinks that compress at `level` in front of the backend `file`, on
// `threads` workers (1: on the caller's thread): BGZF, whose block
// boundaries go to `index` when it is given, and zstd (never indexed).
std::unique_ptr<Sink> makeBgzfSink(std::unique_ptr<Sink> file, int level, int threads,
                                   OutputIndex* index);
std::unique_ptr<Sink> makeZstdSink(std::unique_ptr<Sink> file, int level, int threads,
                                   OutputIndex* index);

#endif  // QUENBREL_OUTPUT_COMPRESSED_H

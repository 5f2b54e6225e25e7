// SPDX-License-Identifier: MIT
// The decoders of the compressed formats, one file each. Every one reads
// the format's units (members, frames, streams) one after another, so that
// concatenated files are read whole, and treats any damage as a read error:
// a bad header, corrupt data, a wrong check value or length, data that ends
// inside a unit, or bytes after the last unit that do not form a further
// one.
//
// Each takes the input `in`, the `n` bytes `head` already read from it (the
// magic and what came with it; they are copied) and `cap`, the size of its
// compressed-input buffer.
#ifndef QUENBREL_INPUT_DECODERS_H
#define QUENBREL_INPUT_DECODERS_H

#include <cstddef>
#include <memory>

#include "input/source.h"

using DecoderOpener = std::unique_ptr<InputSource> (*)(ByteSource& in, const unsigned char* head,
                                                       size_t n, size_t cap);

// gzip through zlib (always built) and through ISA-L (when built in).
std::unique_ptr<InputSource> openGzipZlib(ByteSource& in, const unsigned char* head, size_t n,
                                          size_t cap);
std::unique_ptr<InputSource> openGzipIsal(ByteSource& in, const unsigned char* head, size_t n,
                                          size_t cap);
// zstd frames; skippable frames are skipped. The window is limited to the
// library's default (128 MiB).
std::unique_ptr<InputSource> openZstd(ByteSource& in, const unsigned char* head, size_t n,
                                      size_t cap);
// xz streams with their padding, decoded in at most kXzMemoryLimit bytes.
std::unique_ptr<InputSource> openXz(ByteSource& in, const unsigned char* head, size_t n,
                                    size_t cap);
// bzip2 streams.
std::unique_ptr<InputSource> openBzip2(ByteSource& in, const unsigned char* head, size_t n,
                                       size_t cap);
// BGZF members inflated on `threads` workers; from the first byte that is
// no BGZF member on, the stream goes to the `streaming` gzip decoder.
// looksLikeBgzf() says whether the head begins with a BGZF member.
bool looksLikeBgzf(const unsigned char* head, size_t n);
std::unique_ptr<InputSource> openBgzf(ByteSource& in, const unsigned char* head, size_t n,
                                      int threads, DecoderOpener streaming);

// Every standard xz preset (the largest, -9, needs 65 MiB) fits; a stream
// that asks for more is refused rather than trusted with the memory.
constexpr unsigned long long kXzMemoryLimit = 256ull << 20;

#endif  // QUENBREL_INPUT_DECODERS_H

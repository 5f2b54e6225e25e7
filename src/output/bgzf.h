// SPDX-License-Identifier: MIT
// BGZF: gzip members of at most 64 KiB, each carrying its own size in a
// "BC" extra field, so that a reader can find every member without
// inflating the one before; the empty member marks the end of the file.
#ifndef QUENBREL_OUTPUT_BGZF_H
#define QUENBREL_OUTPUT_BGZF_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/bgzf_format.h"
#include "common/pool.h"

// Levels: 0 stores, 1 is the fastest, 12 the smallest (zlib, where it
// does the work, stops at 9). At 1, sequence text is coded with Huffman
// codes alone (huffman.h), other text by the library at its level 1.
constexpr int kBgzfLevelMin = 0;
constexpr int kBgzfLevelMax = 12;
constexpr int kBgzfLevelSequence = 1;

// Frames the raw deflate data already written at out + kBgzfHeaderSize
// (`deflated` bytes) into a member: header with the member's size, then
// the CRC-32 and length of the `n` plain bytes. Returns the member's size.
size_t bgzfFrame(unsigned char* out, size_t deflated, uint32_t crc, size_t n);

// Writes `n` plain bytes as a member of stored deflate blocks, for data a
// compressor could not fit into a member. Returns the member's size.
size_t bgzfStored(unsigned char* out, const unsigned char* in, size_t n, uint32_t crc);

// A library's deflate, one backend per library (bgzf_zlib.cpp,
// bgzf_libdeflate.cpp): raw deflate data of a member's plain bytes, and
// their CRC-32.
class MemberDeflater {
 public:
  virtual ~MemberDeflater() = default;
  // False when the library could not be set up; no member can be made.
  virtual bool ready() const = 0;
  // Deflates the `n` bytes at `in` into at most `cap` bytes at `out`:
  // their size, or 0 when they did not fit.
  virtual size_t deflate(const unsigned char* in, size_t n, unsigned char* out, size_t cap) = 0;
  virtual uint32_t crc32(const unsigned char* in, size_t n) const = 0;
};

// The backends at `level`.
std::unique_ptr<MemberDeflater> zlibDeflater(int level);
std::unique_ptr<MemberDeflater> libdeflateDeflater(int level);

// A worker's compressor for members at `level`: through libdeflate when it
// was built in, else through zlib.
std::unique_ptr<PoolTask> bgzfTask(int level);

#endif  // QUENBREL_OUTPUT_BGZF_H

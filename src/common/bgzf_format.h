// SPDX-License-Identifier: MIT
// The BGZF format, as both sides see it: gzip members of at most 64 KiB,
// each carrying its own size in a "BC" extra field, so that a reader can
// find every member without inflating the one before; the empty member
// marks the end of the file. Numbers in it are little-endian.
#ifndef QUENBREL_COMMON_BGZF_FORMAT_H
#define QUENBREL_COMMON_BGZF_FORMAT_H

#include <cstddef>
#include <cstdint>

// A member's header with the "BC" field alone, and its trailer (CRC-32 and
// plain length).
constexpr size_t kBgzfHeaderSize = 18;
constexpr size_t kBgzfTrailerSize = 8;
// The largest member: the size field holds the member's size minus one.
constexpr size_t kBgzfMemberMax = 0x10000;
// Plain bytes per member written: a member of incompressible text, stored,
// still fits the 64 KiB the size field can count.
constexpr size_t kBgzfChunk = 0xff00;

// The empty member that ends every BGZF file.
inline constexpr unsigned char kBgzfEof[28] = {0x1f, 0x8b, 8,   4,   0, 0, 0,    0, 0, 0xff,
                                               6,    0,    'B', 'C', 2, 0, 0x1b, 0, 3, 0,
                                               0,    0,    0,   0,   0, 0, 0,    0};

inline uint32_t readLe16(const unsigned char* p) {
  return p[0] | (static_cast<uint32_t>(p[1]) << 8);
}
inline uint32_t readLe32(const unsigned char* p) { return readLe16(p) | (readLe16(p + 2) << 16); }
inline void writeLe16(unsigned char* p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v & 0xff);
  p[1] = static_cast<unsigned char>((v >> 8) & 0xff);
}
inline void writeLe32(unsigned char* p, uint32_t v) {
  writeLe16(p, v & 0xffff);
  writeLe16(p + 2, v >> 16);
}
inline void writeLe64(unsigned char* p, uint64_t v) {
  writeLe32(p, static_cast<uint32_t>(v & 0xffffffffu));
  writeLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

// The size of the BGZF member at `p` (at least kBgzfHeaderSize bytes), or
// 0 when it is no BGZF member: gzip with the extra field only and a "BC"
// subfield of two bytes.
inline size_t bgzfMemberSize(const unsigned char* p) {
  if (p[0] != 0x1f || p[1] != 0x8b || p[2] != 8 || p[3] != 4) return 0;
  if (readLe16(p + 10) != 6 || p[12] != 'B' || p[13] != 'C' || readLe16(p + 14) != 2) return 0;
  return static_cast<size_t>(readLe16(p + 16)) + 1;
}

#endif  // QUENBREL_COMMON_BGZF_FORMAT_H

// SPDX-License-Identifier: MIT
// Eight bytes a round through eight tables: each table gives the CRC of a
// byte followed by as many zero bytes as its place, so the eight lookups of
// a round are independent of each other.
#include "common/crc32.h"

namespace {

struct CrcTables {
  uint32_t t[8][256];
};

constexpr CrcTables makeTables() {
  CrcTables c{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t v = n;
    for (int k = 0; k < 8; ++k) v = (v & 1) ? 0xedb88320u ^ (v >> 1) : v >> 1;
    c.t[0][n] = v;
  }
  for (uint32_t n = 0; n < 256; ++n) {
    for (int k = 1; k < 8; ++k) c.t[k][n] = (c.t[k - 1][n] >> 8) ^ c.t[0][c.t[k - 1][n] & 0xff];
  }
  return c;
}

constexpr CrcTables kTables = makeTables();

uint32_t littleEndian32(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

uint32_t crc32Update(uint32_t crc, const unsigned char* p, size_t n) {
  const auto& t = kTables.t;
  uint32_t c = ~crc;
  for (; n >= 8; p += 8, n -= 8) {
    uint32_t lo = c ^ littleEndian32(p);
    uint32_t hi = littleEndian32(p + 4);
    c = t[7][lo & 0xff] ^ t[6][(lo >> 8) & 0xff] ^ t[5][(lo >> 16) & 0xff] ^ t[4][lo >> 24] ^
        t[3][hi & 0xff] ^ t[2][(hi >> 8) & 0xff] ^ t[1][(hi >> 16) & 0xff] ^ t[0][hi >> 24];
  }
  for (; n > 0; ++p, --n) c = t[0][(c ^ *p) & 0xff] ^ (c >> 8);
  return ~c;
}

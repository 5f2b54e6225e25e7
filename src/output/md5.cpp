// SPDX-License-Identifier: MIT
// MD5 on 64-byte blocks. Words are read byte by byte, so the result does
// not depend on the processor's byte order or on alignment; compilers make
// each such read one load where the processor allows it.
#include "output/md5.h"

#include <algorithm>
#include <cstring>

namespace {

uint32_t rotl(uint32_t x, int s) { return (x << s) | (x >> (32 - s)); }

uint32_t loadLe(const unsigned char* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// The four rounds' mixing functions, each written so that `b`, the word
// computed last, enters as late as possible: the steps form one chain, and
// its length is what bounds the speed.
uint32_t mixF(uint32_t b, uint32_t c, uint32_t d) { return d ^ (b & (c ^ d)); }
// (b & d) | (c & ~d) with disjoint halves, so an addition may stand for the
// or: the half without `b` is added first.
uint32_t mixG(uint32_t b, uint32_t c, uint32_t d) { return (c & ~d) + (b & d); }
uint32_t mixH(uint32_t b, uint32_t c, uint32_t d) { return b ^ (c ^ d); }
uint32_t mixI(uint32_t b, uint32_t c, uint32_t d) { return c ^ (b | ~d); }

// floor(abs(sin(i + 1)) * 2^32), per step.
constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// Which word of the block each step adds.
constexpr int kWord[64] = {0, 1, 2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,
                           1, 6, 11, 0,  5,  10, 15, 4,  9,  14, 3,  8,  13, 2,  7,  12,
                           5, 8, 11, 14, 1,  4,  7,  10, 13, 0,  3,  6,  9,  12, 15, 2,
                           0, 7, 14, 5,  12, 3,  10, 1,  8,  15, 6,  13, 4,  11, 2,  9};

// Sixteen steps of one round; within a round the rotations repeat every
// four steps, which is what lets the loop keep a, b, c and d in place.
template <uint32_t (*Mix)(uint32_t, uint32_t, uint32_t), int First, int S0, int S1, int S2, int S3>
void round16(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, const uint32_t* m) {
#pragma GCC unroll 4
  for (int i = First; i < First + 16; i += 4) {
    a = b + rotl(a + m[kWord[i]] + kSine[i] + Mix(b, c, d), S0);
    d = a + rotl(d + m[kWord[i + 1]] + kSine[i + 1] + Mix(a, b, c), S1);
    c = d + rotl(c + m[kWord[i + 2]] + kSine[i + 2] + Mix(d, a, b), S2);
    b = c + rotl(b + m[kWord[i + 3]] + kSine[i + 3] + Mix(c, d, a), S3);
  }
}

}  // namespace

void Md5::restart() {
  state_[0] = 0x67452301;
  state_[1] = 0xefcdab89;
  state_[2] = 0x98badcfe;
  state_[3] = 0x10325476;
  length_ = 0;
  pendingLen_ = 0;
}

void Md5::compress(const unsigned char* block) {
  uint32_t m[16];
  for (size_t i = 0; i < 16; ++i) m[i] = loadLe(block + 4 * i);
  uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
  round16<mixF, 0, 7, 12, 17, 22>(a, b, c, d, m);
  round16<mixG, 16, 5, 9, 14, 20>(a, b, c, d, m);
  round16<mixH, 32, 4, 11, 16, 23>(a, b, c, d, m);
  round16<mixI, 48, 6, 10, 15, 21>(a, b, c, d, m);
  state_[0] += a;
  state_[1] += b;
  state_[2] += c;
  state_[3] += d;
}

void Md5::update(const unsigned char* p, size_t n) {
  length_ += n;
  if (pendingLen_ > 0) {
    size_t k = std::min(n, sizeof pending_ - pendingLen_);
    std::memcpy(pending_ + pendingLen_, p, k);
    pendingLen_ += k;
    p += k;
    n -= k;
    if (pendingLen_ < sizeof pending_) return;
    compress(pending_);
    pendingLen_ = 0;
  }
  for (; n >= 64; p += 64, n -= 64) compress(p);
  std::memcpy(pending_, p, n);
  pendingLen_ = n;
}

void Md5::hex(char* out) {
  // The padding: a 1 bit, zeros up to 56 bytes into a block, then the
  // message's length in bits, little-endian.
  uint64_t bits = length_ * 8;
  unsigned char tail[72] = {0x80};
  size_t padLen = (pendingLen_ < 56 ? 56 : 120) - pendingLen_;
  for (int i = 0; i < 8; ++i) tail[padLen + i] = static_cast<unsigned char>(bits >> (8 * i));
  update(tail, padLen + 8);
  static const char kDigits[] = "0123456789abcdef";
  for (uint32_t word : state_) {
    for (int i = 0; i < 4; ++i) {
      unsigned byte = (word >> (8 * i)) & 0xff;
      *out++ = kDigits[byte >> 4];
      *out++ = kDigits[byte & 15];
    }
  }
}

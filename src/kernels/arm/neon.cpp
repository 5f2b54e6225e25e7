// SPDX-License-Identifier: MIT
// The NEON kernel: 16-byte blocks; blocks with dropped bytes are packed with
// a table lookup per eight bytes, through a table indexed by the keep mask.
#include <arm_neon.h>

#include "kernels/arm/arm.h"
#include "kernels/generic.h"
#include "kernels/registry.h"

namespace kernels {
namespace {

// One bit per byte of the block, lowest bit first (NEON has no move-mask):
// weigh the lanes by their bit and add up each half.
inline unsigned blockMask(uint8x16_t lanes) {
  static const uint8_t kWeights[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  uint8x16_t bits = vandq_u8(lanes, vld1q_u8(kWeights));
  unsigned lo = vaddv_u8(vget_low_u8(bits));
  unsigned hi = vaddv_u8(vget_high_u8(bits));
  return lo | (hi << 8);
}

// Packs the kept bytes of the eight lanes `u` (mask `m`) at `w`.
inline unsigned char* packHalf(uint8x8_t u, unsigned m, unsigned char* w) {
  const PackTable& t = kPackTable;
  vst1_u8(w, vtbl1_u8(u, vld1_u8(t.index[m])));
  return w + t.count[m];
}

template <bool kNoN, bool kUpper>
struct Neon {
  static const unsigned char* pack(const unsigned char* p, const unsigned char* end,
                                   unsigned char*& out, bool crEnds) {
    const unsigned char* start = p;
    const uint8x16_t gt = vdupq_n_u8('>');
    const uint8x16_t semi = vdupq_n_u8(';');
    const uint8x16_t caseBit = vdupq_n_u8(0x20);
    const uint8x16_t lowerA = vdupq_n_u8('a');
    const uint8x16_t k25 = vdupq_n_u8(25);
    const uint8x16_t dash = vdupq_n_u8('-');
    const uint8x16_t letterN = vdupq_n_u8('n');
    unsigned char* w = out;
    while (end - p >= 16) {
      uint8x16_t v = vld1q_u8(p);
      uint8x16_t marks = vorrq_u8(vceqq_u8(v, gt), vceqq_u8(v, semi));
      if (vmaxvq_u8(marks) != 0) {
        if (const unsigned char* hit = lineStartMark(blockMask(marks), p, start, crEnds)) {
          out = packPlain<kNoN, kUpper>(p, hit, w);
          return hit;
        }
      }
      uint8x16_t folded = vorrq_u8(v, caseBit);
      uint8x16_t letter = vcleq_u8(vsubq_u8(folded, lowerA), k25);
      uint8x16_t kept = vorrq_u8(letter, vceqq_u8(v, dash));
      if (kNoN) kept = vbicq_u8(kept, vceqq_u8(folded, letterN));
      // Clearing the case bit of every letter upper-cases the lower-case
      // ones and leaves the rest as they are.
      uint8x16_t u = kUpper ? vbicq_u8(v, vandq_u8(letter, caseBit)) : v;
      if (vminvq_u8(kept) == 0xFF) {
        vst1q_u8(w, u);
        w += 16;
      } else {
        unsigned mask = blockMask(kept);
        w = packHalf(vget_low_u8(u), mask & 0xFF, w);
        w = packHalf(vget_high_u8(u), mask >> 8, w);
      }
      p += 16;
    }
    const unsigned char* stop = packBytes<kNoN, kUpper>(start, p, end, w, crEnds);
    out = w;
    return stop;
  }
};

}  // namespace

unsigned armFeatures() { return kCpuNeon; }

PackFn neonPack(bool dropN, bool upperCase) { return instantiate<Neon>(dropN, upperCase); }

}  // namespace kernels

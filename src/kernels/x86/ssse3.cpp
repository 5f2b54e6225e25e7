// SPDX-License-Identifier: MIT
// The SSSE3 kernel: 16-byte blocks; blocks with dropped bytes are packed
// with a byte shuffle, eight bytes at a time, through a table indexed by the
// keep mask.
#include <immintrin.h>

#include "kernels/generic.h"
#include "kernels/x86/shuffle.h"
#include "kernels/x86/x86.h"

namespace kernels {
namespace {

// Finds marks and packs in one pass.
template <bool kNoN, bool kUpper>
__attribute__((target("ssse3"))) const unsigned char* packFrom(const unsigned char* start,
                                                               const unsigned char* p,
                                                               const unsigned char* end,
                                                               unsigned char*& out, bool crEnds) {
  const __m128i gt = _mm_set1_epi8('>');
  const __m128i semi = _mm_set1_epi8(';');
  unsigned char* w = out;
  while (end - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned marks = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, gt), _mm_cmpeq_epi8(v, semi))));
    if (const unsigned char* hit = lineStartMark(marks, p, start, crEnds)) {
      out = packPlain<kNoN, kUpper>(p, hit, w);
      return hit;
    }
    w = packBlock(kUpper ? upperBlock(v) : v, keptMask<kNoN>(v), w);
    p += 16;
  }
  const unsigned char* stop = packBytes<kNoN, kUpper>(start, p, end, w, crEnds);
  out = w;
  return stop;
}

}  // namespace

// The wider kernels come here for what is left of their ranges.
template <bool kNoN, bool kUpper>
const unsigned char* ssse3PackFrom(const unsigned char* start, const unsigned char* p,
                                   const unsigned char* end, unsigned char*& out, bool crEnds) {
  return packFrom<kNoN, kUpper>(start, p, end, out, crEnds);
}

template const unsigned char* ssse3PackFrom<false, false>(const unsigned char*,
                                                          const unsigned char*,
                                                          const unsigned char*, unsigned char*&,
                                                          bool);
template const unsigned char* ssse3PackFrom<false, true>(const unsigned char*, const unsigned char*,
                                                         const unsigned char*, unsigned char*&,
                                                         bool);
template const unsigned char* ssse3PackFrom<true, false>(const unsigned char*, const unsigned char*,
                                                         const unsigned char*, unsigned char*&,
                                                         bool);
template const unsigned char* ssse3PackFrom<true, true>(const unsigned char*, const unsigned char*,
                                                        const unsigned char*, unsigned char*&,
                                                        bool);

namespace {

template <bool kNoN, bool kUpper>
struct Ssse3 {
  static const unsigned char* pack(const unsigned char* p, const unsigned char* end,
                                   unsigned char*& out, bool crEnds) {
    return packFrom<kNoN, kUpper>(p, p, end, out, crEnds);
  }
};

}  // namespace

PackFn ssse3Pack(bool dropN, bool upperCase) { return instantiate<Ssse3>(dropN, upperCase); }

}  // namespace kernels

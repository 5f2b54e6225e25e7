// SPDX-License-Identifier: MIT
// The AVX-512 kernel: 64-byte blocks, each packed with one byte compression
// (VBMI2) instead of table shuffles.
#include <immintrin.h>

#include "kernels/generic.h"
#include "kernels/x86/x86.h"

namespace kernels {
namespace {

template <bool kNoN, bool kUpper>
struct Avx512 {
  __attribute__((target("avx512f,avx512bw,avx512vbmi2,popcnt"))) static const unsigned char* pack(
      const unsigned char* p, const unsigned char* end, unsigned char*& out, bool crEnds) {
    const unsigned char* start = p;
    const __m512i gt = _mm512_set1_epi8('>');
    const __m512i semi = _mm512_set1_epi8(';');
    const __m512i caseBit = _mm512_set1_epi8(0x20);
    const __m512i lowerA = _mm512_set1_epi8('a');
    const __m512i k25 = _mm512_set1_epi8(25);
    const __m512i dash = _mm512_set1_epi8('-');
    const __m512i letterN = _mm512_set1_epi8('n');
    unsigned char* w = out;
    while (end - p >= 64) {
      __m512i v = _mm512_loadu_si512(p);
      __mmask64 marks = _mm512_cmpeq_epi8_mask(v, gt) | _mm512_cmpeq_epi8_mask(v, semi);
      if (const unsigned char* hit = lineStartMark(marks, p, start, crEnds)) {
        out = packPlain<kNoN, kUpper>(p, hit, w);
        return hit;
      }
      __m512i folded = _mm512_or_si512(v, caseBit);
      __mmask64 letter = _mm512_cmple_epu8_mask(_mm512_sub_epi8(folded, lowerA), k25);
      __mmask64 kept = letter | _mm512_cmpeq_epi8_mask(v, dash);
      if (kNoN) kept &= ~_mm512_cmpeq_epi8_mask(folded, letterN);
      // The lower-case letters are the letters with the case bit set.
      __m512i u = kUpper ? _mm512_mask_sub_epi8(v, _mm512_mask_test_epi8_mask(letter, v, caseBit),
                                                v, caseBit)
                         : v;
      if (kept == ~__mmask64{0}) {
        _mm512_storeu_si512(w, u);
        w += 64;
      } else {
        // Compressing into a register and storing all of it is much faster
        // than the compressing store; the bytes past the kept ones are
        // overwritten by the next block or never looked at.
        _mm512_storeu_si512(w, _mm512_maskz_compress_epi8(kept, u));
        w += __builtin_popcountll(kept);
      }
      p += 64;
    }
    out = w;
    return ssse3PackFrom<kNoN, kUpper>(start, p, end, out, crEnds);
  }
};

}  // namespace

PackFn avx512Pack(bool dropN, bool upperCase) { return instantiate<Avx512>(dropN, upperCase); }

}  // namespace kernels

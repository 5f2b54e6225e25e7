// SPDX-License-Identifier: MIT
// The AVX2 kernel: 32-byte blocks, each half packed by byte shuffle.
#include <immintrin.h>

#include "kernels/generic.h"
#include "kernels/x86/shuffle.h"
#include "kernels/x86/x86.h"

namespace kernels {
namespace {

template <bool kNoN, bool kUpper>
struct Avx2 {
  __attribute__((target("avx2"))) static const unsigned char* pack(const unsigned char* p,
                                                                   const unsigned char* end,
                                                                   unsigned char*& out,
                                                                   bool crEnds) {
    const unsigned char* start = p;
    const __m256i gt = _mm256_set1_epi8('>');
    const __m256i semi = _mm256_set1_epi8(';');
    const __m256i caseBit = _mm256_set1_epi8(0x20);
    const __m256i lowerA = _mm256_set1_epi8('a');
    const __m256i k25 = _mm256_set1_epi8(25);
    const __m256i dash = _mm256_set1_epi8('-');
    const __m256i letterN = _mm256_set1_epi8('n');
    unsigned char* w = out;
    while (end - p >= 32) {
      __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
      unsigned marks = static_cast<unsigned>(_mm256_movemask_epi8(
          _mm256_or_si256(_mm256_cmpeq_epi8(v, gt), _mm256_cmpeq_epi8(v, semi))));
      if (const unsigned char* hit = lineStartMark(marks, p, start, crEnds)) {
        out = packPlain<kNoN, kUpper>(p, hit, w);
        return hit;
      }
      __m256i folded = _mm256_or_si256(v, caseBit);
      __m256i t = _mm256_sub_epi8(folded, lowerA);
      __m256i letter = _mm256_cmpeq_epi8(_mm256_min_epu8(t, k25), t);
      __m256i kept = _mm256_or_si256(letter, _mm256_cmpeq_epi8(v, dash));
      if (kNoN) kept = _mm256_andnot_si256(_mm256_cmpeq_epi8(folded, letterN), kept);
      unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(kept));
      // Clearing the case bit of every letter upper-cases the lower-case
      // ones and leaves the rest as they are.
      __m256i u = kUpper ? _mm256_andnot_si256(_mm256_and_si256(letter, caseBit), v) : v;
      if (mask == 0xFFFFFFFFu) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(w), u);
        w += 32;
      } else {
        w = packBlock(_mm256_castsi256_si128(u), mask & 0xFFFF, w);
        w = packBlock(_mm256_extracti128_si256(u, 1), mask >> 16, w);
      }
      p += 32;
    }
    out = w;
    return ssse3PackFrom<kNoN, kUpper>(start, p, end, out, crEnds);
  }
};

}  // namespace

PackFn avx2Pack(bool dropN, bool upperCase) { return instantiate<Avx2>(dropN, upperCase); }

}  // namespace kernels

// SPDX-License-Identifier: MIT
// The 16-byte block helpers of the x86 kernels, shared by the SSSE3 and AVX2
// loops. Each file that includes this gets its own copies (anonymous
// namespace), so code compiled for one instruction set never stands in for
// another's.
#ifndef QUENBREL_KERNELS_X86_SHUFFLE_H
#define QUENBREL_KERNELS_X86_SHUFFLE_H

#include <immintrin.h>

#include "kernels/generic.h"

namespace kernels {
// NOLINTNEXTLINE(cert-dcl59-cpp): each including file needs its own copies, see above.
namespace {

// Upper-cases the ASCII lower-case letters of a block.
__attribute__((target("ssse3"))) inline __m128i upperBlock(__m128i v) {
  __m128i t = _mm_sub_epi8(v, _mm_set1_epi8('a'));
  __m128i lower = _mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(25)), t);
  return _mm_sub_epi8(v, _mm_and_si128(lower, _mm_set1_epi8(0x20)));
}

// One bit per byte of the block: set for the bytes that are kept residues.
template <bool kNoN>
__attribute__((target("ssse3"))) inline unsigned keptMask(__m128i v) {
  __m128i folded = _mm_or_si128(v, _mm_set1_epi8(0x20));
  __m128i t = _mm_sub_epi8(folded, _mm_set1_epi8('a'));
  __m128i letter = _mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(25)), t);
  __m128i kept = _mm_or_si128(letter, _mm_cmpeq_epi8(v, _mm_set1_epi8('-')));
  if (kNoN) kept = _mm_andnot_si128(_mm_cmpeq_epi8(folded, _mm_set1_epi8('n')), kept);
  return static_cast<unsigned>(_mm_movemask_epi8(kept));
}

// Packs the kept residues of one 16-byte block (`u`, already upper-cased
// when asked; `mask` has a bit per kept byte) at `w`.
__attribute__((target("ssse3"), always_inline)) inline unsigned char* packBlock(__m128i u,
                                                                                unsigned mask,
                                                                                unsigned char* w) {
  if (mask == 0xFFFF) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w), u);
    return w + 16;
  }
  const PackTable& t = kPackTable;
  unsigned lo = mask & 0xFF, hi = mask >> 8;
  __m128i a = _mm_shuffle_epi8(u, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t.index[lo])));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(w), a);
  w += t.count[lo];
  __m128i b = _mm_shuffle_epi8(_mm_srli_si128(u, 8),
                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(t.index[hi])));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(w), b);
  return w + t.count[hi];
}

}  // namespace
}  // namespace kernels

#endif  // QUENBREL_KERNELS_X86_SHUFFLE_H

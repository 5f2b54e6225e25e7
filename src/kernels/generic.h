// SPDX-License-Identifier: MIT
// Plain C++ pieces that every kernel shares: the residue tables, the byte
// loop that finishes a range, and the line-start test for a found mark.
#ifndef QUENBREL_KERNELS_GENERIC_H
#define QUENBREL_KERNELS_GENERIC_H

#include <cstdint>

#include "kernels/kernel.h"

namespace kernels {

// For each byte value: whether it is a kept residue, and what is written for
// it. Built at compile time, one pair per setting.
template <bool kNoN, bool kUpper>
struct ResidueTables {
  unsigned char keep[256];
  unsigned char out[256];

  constexpr ResidueTables() : keep(), out() {
    for (int c = 0; c < 256; ++c) {
      bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
      bool kept = letter || c == '-';
      if (kNoN && (c == 'n' || c == 'N')) kept = false;
      keep[c] = kept ? 1 : 0;
      out[c] = static_cast<unsigned char>(kUpper && c >= 'a' && c <= 'z' ? c - 32 : c);
    }
  }
};

template <bool kNoN, bool kUpper>
inline constexpr ResidueTables<kNoN, kUpper> kResidues{};

// For each 8-bit keep mask: the positions of the kept bytes, in order, then
// 0x80 (a shuffle index that yields zero); and how many are kept. The
// table-shuffle kernels pack eight bytes at a time with it.
struct PackTable {
  unsigned char index[256][8];
  unsigned char count[256];

  constexpr PackTable() : index(), count() {
    for (int m = 0; m < 256; ++m) {
      int n = 0;
      for (int bit = 0; bit < 8; ++bit) {
        if (m & (1 << bit)) index[m][n++] = static_cast<unsigned char>(bit);
      }
      count[m] = static_cast<unsigned char>(n);
      while (n < 8) index[m][n++] = 0x80;
    }
  }
};

inline constexpr PackTable kPackTable{};

inline bool isBreak(unsigned char c, bool crEnds) { return c == '\n' || (crEnds && c == '\r'); }

// Packs [p, end), which holds no line-start mark, byte by byte.
template <bool kNoN, bool kUpper>
inline unsigned char* packPlain(const unsigned char* p, const unsigned char* end,
                                unsigned char* w) {
  const auto& t = kResidues<kNoN, kUpper>;
  for (; p < end; ++p) {
    *w = t.out[*p];
    w += t.keep[*p];
  }
  return w;
}

// Packs [p, end) byte by byte up to the first line-start mark after
// `start`; returns where it stopped.
template <bool kNoN, bool kUpper>
inline const unsigned char* packBytes(const unsigned char* start, const unsigned char* p,
                                      const unsigned char* end, unsigned char*& out, bool crEnds) {
  const auto& t = kResidues<kNoN, kUpper>;
  unsigned char* w = out;
  for (; p < end; ++p) {
    unsigned char c = *p;
    if ((c == '>' || c == ';') && p > start && isBreak(p[-1], crEnds)) break;
    *w = t.out[c];
    w += t.keep[c];
  }
  out = w;
  return p;
}

inline int lowestBit(uint64_t x) {
#if defined(__GNUC__)
  return __builtin_ctzll(x);
#else
  int n = 0;
  while (!(x & 1)) {
    x >>= 1;
    ++n;
  }
  return n;
#endif
}

// Of the ">" and ";" marks in the block at `block` (one bit per byte in
// `marks`, lowest bit first), the first that starts a line, or null.
inline const unsigned char* lineStartMark(uint64_t marks, const unsigned char* block,
                                          const unsigned char* start, bool crEnds) {
  for (; marks != 0; marks &= marks - 1) {
    const unsigned char* hit = block + lowestBit(marks);
    if (hit > start && isBreak(hit[-1], crEnds)) return hit;
  }
  return nullptr;
}

// Calls `make` with the -unseq and -uc settings as compile-time constants,
// so that each kernel is instantiated once per combination.
template <template <bool, bool> class Kernel>
PackFn instantiate(bool dropN, bool upperCase) {
  if (dropN) return upperCase ? &Kernel<true, true>::pack : &Kernel<true, false>::pack;
  return upperCase ? &Kernel<false, true>::pack : &Kernel<false, false>::pack;
}

}  // namespace kernels

#endif  // QUENBREL_KERNELS_GENERIC_H

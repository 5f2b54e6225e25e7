// SPDX-License-Identifier: MIT
// The portable kernel: plain C++, eight bytes at a time in a 64-bit word.
// It builds with any compiler for any processor, and is the fallback where
// no vector kernel exists.
#include <cstdint>
#include <cstring>

#include "kernels/generic.h"
#include "kernels/portable.h"

namespace kernels {
namespace {

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHigh = 0x8080808080808080ull;
constexpr uint64_t kLow7 = 0x7f7f7f7f7f7f7f7full;
// The gap-closing shift below needs the first byte in the low bits.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr bool kLittleEndian = true;
#else
constexpr bool kLittleEndian = false;
#endif

// The high bit of each byte that is zero, exactly (no carries between bytes).
inline uint64_t zeroBytes(uint64_t x) { return ~(((x & kLow7) + kLow7) | x | kLow7); }

inline uint64_t equalBytes(uint64_t v, unsigned char c) { return zeroBytes(v ^ (kOnes * c)); }

// The high bit of each byte that is an ASCII letter. Folding the case bit in
// maps both cases onto a..z; the sums cannot carry out of a byte since the
// operands are 7-bit.
inline uint64_t letterBytes(uint64_t v) {
  uint64_t folded = (v | (kOnes * 0x20)) & kLow7;
  uint64_t atLeastA = folded + kOnes * (0x80 - 'a');
  uint64_t pastZ = folded + kOnes * (0x80 - 'z' - 1);
  return atLeastA & ~pastZ & ~v & kHigh;
}

// How many bytes have their high bit set in `high` (only high bits set):
// the multiplication adds the bytes up into the top one.
inline int byteCount(uint64_t high) { return static_cast<int>(((high >> 7) * kOnes) >> 56); }

// The bytes of `v` without those whose high bit is set in `dropped`, moved
// down over the gaps (the first byte in the low bits). Each gap is closed
// with two shifts, the lowest first; the marks of the gaps above move down
// with the bytes.
inline uint64_t closeGaps(uint64_t v, uint64_t dropped) {
  while (dropped != 0) {
    int at = lowestBit(dropped) - 7;  // bit offset of the lowest dropped byte
    uint64_t below = (uint64_t{1} << at) - 1;
    v = (v & below) | ((v >> 8) & ~below);
    dropped = (dropped >> 8) & ~below;
  }
  return v;
}

template <bool kNoN, bool kUpper>
struct Portable {
  static const unsigned char* pack(const unsigned char* p, const unsigned char* end,
                                   unsigned char*& out, bool crEnds) {
    const unsigned char* start = p;
    const auto& t = kResidues<kNoN, kUpper>;
    unsigned char* w = out;
    while (end - p >= 8) {
      // Two words of residues only, the usual case inside long sequence
      // lines, go in one step.
      while (end - p >= 16) {
        uint64_t v0, v1;
        std::memcpy(&v0, p, 8);
        std::memcpy(&v1, p + 8, 8);
        uint64_t l0 = letterBytes(v0), l1 = letterBytes(v1);
        uint64_t k0 = l0, k1 = l1;
        if (kNoN) {
          k0 &= ~equalBytes(v0 | (kOnes * 0x20), 'n');
          k1 &= ~equalBytes(v1 | (kOnes * 0x20), 'n');
        }
        if ((k0 & k1) != kHigh) break;
        if (kUpper) {
          v0 &= ~(l0 >> 2);
          v1 &= ~(l1 >> 2);
        }
        std::memcpy(w, &v0, 8);
        std::memcpy(w + 8, &v1, 8);
        w += 16;
        p += 16;
      }
      // The pair held a dropped byte: both words go one at a time, before
      // the pair loop is tried again.
      for (int word = 0; word < 2 && end - p >= 8; ++word) {
        uint64_t v;
        std::memcpy(&v, p, 8);  // no alignment assumed
        uint64_t letters = letterBytes(v);
        uint64_t kept = letters;
        if (kNoN) kept &= ~equalBytes(v | (kOnes * 0x20), 'n');
        // Marks are neither letters nor "-", so a word of residues only is
        // stored as it is, with no further test.
        if (kept != kHigh) {
          if (equalBytes(v, '>') | equalBytes(v, ';')) {
            // A mark, though not necessarily at a line start: look closer.
            const unsigned char* stop = packBytes<kNoN, kUpper>(start, p, p + 8, w, crEnds);
            if (stop < p + 8) {
              out = w;
              return stop;
            }
            p += 8;
            continue;
          }
          kept |= equalBytes(v, '-');
        }
        // Clearing the case bit of every letter upper-cases the lower-case
        // ones and leaves the rest as they are.
        if (kUpper) v &= ~(letters >> 2);
        uint64_t dropped = kept ^ kHigh;
        if (dropped == 0) {
          std::memcpy(w, &v, 8);
          w += 8;
        } else if (kLittleEndian) {
          // Typically one byte dropped (the line end of a wrapped sequence,
          // the blank between groups of ten residues): close the gaps with
          // shifts instead of a byte loop.
          uint64_t packed = closeGaps(v, dropped);
          std::memcpy(w, &packed, 8);
          w += 8 - byteCount(dropped);
        } else {
          for (int i = 0; i < 8; ++i) {
            *w = t.out[p[i]];
            w += t.keep[p[i]];
          }
        }
        p += 8;
      }
    }
    const unsigned char* stop = packBytes<kNoN, kUpper>(start, p, end, w, crEnds);
    out = w;
    return stop;
  }
};

}  // namespace

PackFn portablePack(bool dropN, bool upperCase) { return instantiate<Portable>(dropN, upperCase); }

}  // namespace kernels

// SPDX-License-Identifier: MIT
// Huffman-only deflate for sequence text (RFC 1951, one dynamic block).
#include "output/huffman.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int kLitLen = 286;  // literals, end of block, length codes
constexpr int kEndOfBlock = 256;
constexpr int kCodeLengthCodes = 19;
// A run is coded as matches once it saves clearly over two-bit literals.
constexpr size_t kMinRun = 16;
constexpr size_t kMaxMatch = 258;
// Above this many bits per byte the text is not sequence-like: string
// matching would do better.
constexpr uint64_t kMaxBitsPerByte = 3;

// The length codes 257..285: first length and extra bits of each.
struct LengthCodes {
  uint16_t code[kMaxMatch + 1];
  uint16_t base[29];
  uint8_t extra[29];
  LengthCodes() {
    static const uint8_t kExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
    unsigned length = 3;
    for (int c = 0; c < 29; ++c) {
      base[c] = static_cast<uint16_t>(c == 28 ? 258 : length);
      extra[c] = kExtra[c];
      if (c == 28) break;
      for (unsigned k = 0; k < (1u << kExtra[c]); ++k) code[length++] = static_cast<uint16_t>(c);
    }
    code[258] = 28;
  }
};

const LengthCodes& lengthCodes() {
  static const LengthCodes codes;
  return codes;
}

// Code lengths of at most `maxLen` bits for the `n` symbols of `freq`
// (zero for an unused symbol). At least two symbols get a code, so that
// the code is complete. Frequencies are halved until the deepest code fits.
void buildLengths(const uint32_t* freq, int n, int maxLen, uint8_t* lens) {
  std::vector<uint32_t> f(freq, freq + n);
  int used = 0;
  for (int s = 0; s < n; ++s) used += f[s] > 0;
  for (int s = 0; used < 2; ++s) {
    if (f[s] == 0) {
      f[s] = 1;
      ++used;
    }
  }
  for (;;) {
    // Nodes: leaves first, then internal ones; parent links give depths.
    std::vector<std::pair<uint64_t, int>> leaves;
    for (int s = 0; s < n; ++s) {
      if (f[s] > 0) leaves.emplace_back(f[s], s);
    }
    std::sort(leaves.begin(), leaves.end());
    size_t m = leaves.size();
    std::vector<uint64_t> weight(2 * m);
    std::vector<int> parent(2 * m, -1);
    for (size_t i = 0; i < m; ++i) weight[i] = leaves[i].first;
    // Two queues: sorted leaves, and internal nodes made in weight order.
    size_t nextLeaf = 0, nextInner = m, made = m;
    auto take = [&]() {
      if (nextLeaf < m && (nextInner == made || weight[nextLeaf] <= weight[nextInner]))
        return nextLeaf++;
      return nextInner++;
    };
    for (size_t k = 0; k + 1 < m; ++k) {
      size_t a = take(), b = take();
      weight[made] = weight[a] + weight[b];
      parent[a] = parent[b] = static_cast<int>(made);
      ++made;
    }
    std::vector<int> depth(made, 0);
    int deepest = 0;
    for (size_t i = made - 1; i-- > 0;) {
      depth[i] = depth[static_cast<size_t>(parent[i])] + 1;
      deepest = std::max(deepest, depth[i]);
    }
    if (deepest <= maxLen) {
      std::memset(lens, 0, static_cast<size_t>(n));
      for (size_t i = 0; i < m; ++i) lens[leaves[i].second] = static_cast<uint8_t>(depth[i]);
      return;
    }
    for (uint32_t& x : f) {
      if (x > 0) x = (x >> 1) | 1;
    }
  }
}

// Canonical codes of `lens`, bit-reversed: deflate sends a code's bits
// from its first, and the writer fills bytes from their lowest bit.
void buildCodes(const uint8_t* lens, int n, uint16_t* codes) {
  uint16_t count[16] = {}, next[16] = {};
  for (int s = 0; s < n; ++s) ++count[lens[s]];
  count[0] = 0;
  for (int b = 1, code = 0; b < 16; ++b) {
    code = (code + count[b - 1]) << 1;
    next[b] = static_cast<uint16_t>(code);
  }
  for (int s = 0; s < n; ++s) {
    if (lens[s] == 0) continue;
    unsigned c = next[lens[s]]++, r = 0;
    for (int b = 0; b < lens[s]; ++b) r |= ((c >> b) & 1u) << (lens[s] - 1 - b);
    codes[s] = static_cast<uint16_t>(r);
  }
}

// Bits gathered in a word and stored eight bytes at a time; the caller
// has made sure beforehand that everything fits, with eight bytes to spare.
class BitWriter {
 public:
  explicit BitWriter(unsigned char* out) : p_(out), start_(out) {}
  // Adds `n` bits; at most 56 may be pending, so flush() after every few.
  void add(uint64_t bits, int n) {
    acc_ |= bits << fill_;
    fill_ += n;
  }
  void flush() {
    std::memcpy(p_, &acc_, 8);
    p_ += fill_ >> 3;
    acc_ = (fill_ & ~7) == 64 ? 0 : acc_ >> (fill_ & ~7);
    fill_ &= 7;
  }
  void put(uint64_t bits, int n) {
    add(bits, n);
    flush();
  }
  size_t finish() {
    flush();
    if (fill_ > 0) *p_++ = static_cast<unsigned char>(acc_);
    return static_cast<size_t>(p_ - start_);
  }

 private:
  unsigned char* p_;
  unsigned char* start_;
  uint64_t acc_ = 0;
  int fill_ = 0;
};

}  // namespace

SequenceDeflater::SequenceDeflater() : runs_(new Run[65536 / 8 + 1]) {}

size_t SequenceDeflater::deflate(const unsigned char* in, size_t n, unsigned char* out,
                                 size_t cap) {
  if (n > 65535) return 0;
  const LengthCodes& lc = lengthCodes();
  // Byte counts in four tables, so that a text of few letters does not
  // wait on one counter.
  uint32_t counts[4][256] = {};
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    ++counts[0][in[i]];
    ++counts[1][in[i + 1]];
    ++counts[2][in[i + 2]];
    ++counts[3][in[i + 3]];
  }
  for (; i < n; ++i) ++counts[0][in[i]];
  uint32_t freq[kLitLen] = {};
  for (int c = 0; c < 256; ++c) freq[c] = counts[0][c] + counts[1][c] + counts[2][c] + counts[3][c];

  // Long runs of one byte: each holds an aligned word of eight equal bytes,
  // which is cheap to look for. After its first byte, a run is matches at
  // distance one.
  Run* runs = runs_.get();
  size_t runCount = 0;
  uint64_t extraBits = 0;
  for (size_t w = 0; w + 8 <= n; w += 8) {
    uint64_t word;
    std::memcpy(&word, in + w, 8);
    if (word != (word & 0xff) * 0x0101010101010101ull) continue;
    unsigned char c = in[w];
    size_t from = w, to = w + 8;
    size_t floor = runCount > 0 ? runs[runCount - 1].at + runs[runCount - 1].length : 0;
    while (from > floor && in[from - 1] == c) --from;
    while (to < n && in[to] == c) ++to;
    if (to - from >= kMinRun) {
      runs[runCount++] = {from, to - from};
      // The first byte stays a literal; the rest are matches.
      freq[c] -= static_cast<uint32_t>(to - from - 1);
      for (size_t left = to - from - 1; left > 0;) {
        size_t k = left > kMaxMatch ? kMaxMatch : left;
        if (left - k > 0 && left - k < 3) k = left - 3;  // no match shorter than three
        uint16_t code = lc.code[k];
        ++freq[257 + code];
        extraBits += lc.extra[code] + 1;  // and the distance code
        left -= k;
      }
    }
    w = (to + 7) / 8 * 8 - 8;
  }
  freq[kEndOfBlock] = 1;

  uint8_t lens[kLitLen];
  buildLengths(freq, kLitLen, 15, lens);
  uint64_t bits = extraBits;
  for (int s = 0; s < kLitLen; ++s) bits += static_cast<uint64_t>(freq[s]) * lens[s];
  if (bits > kMaxBitsPerByte * n + 64) return 0;

  int hlit = kLitLen;
  while (hlit > 257 && lens[hlit - 1] == 0) --hlit;
  // Two distance codes of one bit: distance one is the only one used.
  const uint8_t distLens[2] = {1, 1};

  // The code lengths of both codes, as one run-length coded sequence.
  uint8_t all[kLitLen + 2];
  std::memcpy(all, lens, static_cast<size_t>(hlit));
  std::memcpy(all + hlit, distLens, 2);
  int total = hlit + 2;
  uint16_t clSyms[kLitLen + 2];
  uint8_t clExtra[kLitLen + 2];
  int clCount = 0;
  uint32_t clFreq[kCodeLengthCodes] = {};
  for (int k = 0; k < total;) {
    uint8_t v = all[k];
    int run = 1;
    while (k + run < total && all[k + run] == v) ++run;
    k += run;
    if (v == 0) {
      while (run >= 11) {
        int m = std::min(run, 138);
        clSyms[clCount] = 18;
        clExtra[clCount++] = static_cast<uint8_t>(m - 11);
        run -= m;
      }
      if (run >= 3) {
        clSyms[clCount] = 17;
        clExtra[clCount++] = static_cast<uint8_t>(run - 3);
        run = 0;
      }
    } else {
      clSyms[clCount] = v;
      clExtra[clCount++] = 0;
      --run;
      while (run >= 3) {
        int m = std::min(run, 6);
        clSyms[clCount] = 16;
        clExtra[clCount++] = static_cast<uint8_t>(m - 3);
        run -= m;
      }
    }
    for (; run > 0; --run) {
      clSyms[clCount] = v;
      clExtra[clCount++] = 0;
    }
  }
  for (int k = 0; k < clCount; ++k) ++clFreq[clSyms[k]];
  uint8_t clLens[kCodeLengthCodes];
  buildLengths(clFreq, kCodeLengthCodes, 7, clLens);
  static const uint8_t kOrder[kCodeLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                   11, 4,  12, 3, 13, 2, 14, 1, 15};
  int hclen = kCodeLengthCodes;
  while (hclen > 4 && clLens[kOrder[hclen - 1]] == 0) --hclen;
  static const int kClExtraBits[3] = {2, 3, 7};
  uint64_t headerBits = 3 + 5 + 5 + 4 + 3 * static_cast<uint64_t>(hclen);
  for (int k = 0; k < clCount; ++k) {
    headerBits += clLens[clSyms[k]] + (clSyms[k] >= 16 ? kClExtraBits[clSyms[k] - 16] : 0);
  }
  // Everything must fit with the writer's eight spare bytes.
  if ((headerBits + bits + 7) / 8 + 8 > cap) return 0;

  uint16_t codes[kLitLen] = {}, clCodes[kCodeLengthCodes] = {};
  buildCodes(lens, kLitLen, codes);
  buildCodes(clLens, kCodeLengthCodes, clCodes);

  BitWriter w(out);
  w.add(1, 1);  // the last block
  w.add(2, 2);  // dynamic Huffman codes
  w.add(static_cast<uint64_t>(hlit - 257), 5);
  w.add(1, 5);  // two distance codes
  w.put(static_cast<uint64_t>(hclen - 4), 4);
  for (int k = 0; k < hclen; ++k) w.put(clLens[kOrder[k]], 3);
  for (int k = 0; k < clCount; ++k) {
    w.add(clCodes[clSyms[k]], clLens[clSyms[k]]);
    w.put(clSyms[k] >= 16 ? clExtra[k] : 0, clSyms[k] >= 16 ? kClExtraBits[clSyms[k] - 16] : 0);
  }

  // Literals three at a time (15 bits at most each), then the run.
  uint64_t lit[256];
  uint8_t litLen[256];
  for (int c = 0; c < 256; ++c) {
    lit[c] = codes[c];
    litLen[c] = lens[c];
  }
  size_t at = 0;
  for (size_t r = 0; r <= runCount; ++r) {
    size_t stop = r < runCount ? runs[r].at + 1 : n;
    for (; at + 3 <= stop; at += 3) {
      w.add(lit[in[at]], litLen[in[at]]);
      w.add(lit[in[at + 1]], litLen[in[at + 1]]);
      w.add(lit[in[at + 2]], litLen[in[at + 2]]);
      w.flush();
    }
    for (; at < stop; ++at) w.put(lit[in[at]], litLen[in[at]]);
    if (r == runCount) break;
    for (size_t left = runs[r].length - 1; left > 0;) {
      size_t k = left > kMaxMatch ? kMaxMatch : left;
      if (left - k > 0 && left - k < 3) k = left - 3;
      uint16_t code = lc.code[k];
      w.add(codes[257 + code], lens[257 + code]);
      w.add(k - lc.base[code], lc.extra[code]);
      w.put(0, 1);  // distance code 0: distance one
      left -= k;
    }
    at = runs[r].at + runs[r].length;
  }
  w.put(codes[kEndOfBlock], lens[kEndOfBlock]);
  return w.finish();
}

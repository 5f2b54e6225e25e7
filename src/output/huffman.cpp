// SPDX-License-Identifier: MIT
// Huffman-only deflate for sequence text (RFC 1951, one dynamic block).
#include "output/huffman.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr int kLitLen = 286;  // literals, end of block, length codes
constexpr int kEndOfBlock = 256;
constexpr int kFirstLengthCode = 257;
constexpr int kCodeLengthCodes = 19;
// The longest code of the literal/length code, and of the code that codes
// its code lengths (what deflate's headers can say).
constexpr int kMaxCodeBits = 15;
constexpr int kMaxCodeLengthBits = 7;
// Code-length symbols beyond the lengths 0 to 15: repeat the previous
// length 3 to 6 times, a zero length 3 to 10 times, or 11 to 138 times.
constexpr int kRepeatPrevious = 16;
constexpr int kRepeatZeros = 17;
constexpr int kRepeatZerosLong = 18;
// The order in which the code-length code's lengths are sent, and the extra
// bits of the three repeat symbols.
constexpr uint8_t kCodeLengthOrder[kCodeLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                        11, 4,  12, 3, 13, 2, 14, 1, 15};
constexpr int kRepeatExtraBits[3] = {2, 3, 7};
// A block header's fixed fields: last-block flag and type (3 bits), the
// counts of literal/length codes (5), distance codes (5) and code-length
// codes (4), each of whose lengths takes 3 bits.
constexpr uint64_t kHeaderFixedBits = 3 + 5 + 5 + 4;
constexpr uint64_t kCodeLengthLengthBits = 3;
// A run is coded as matches once it saves clearly over two-bit literals.
constexpr size_t kMinRun = 16;
constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 258;
constexpr size_t kMaxBlock = 65535;
// Above this many bits per byte the text is not sequence-like: string
// matching would do better.
constexpr uint64_t kMaxBitsPerByte = 3;
// The writer stores eight bytes at a time, and needs them spare at the end.
constexpr size_t kWriterSlack = 8;

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

// The length of the next match of a run with `left` bytes still to code:
// the longest there is, but never leaving one or two bytes, which no match
// can take. Counting and writing split a run the same way through it.
size_t nextMatch(size_t left) {
  size_t k = left > kMaxMatch ? kMaxMatch : left;
  if (left - k > 0 && left - k < kMinMatch) k = left - kMinMatch;
  return k;
}

// The byte counts of `in`, in freq[0..255].
void countBytes(const unsigned char* in, size_t n, uint32_t* freq) {
  // Four tables, so that a text of few letters does not wait on one
  // counter.
  uint32_t counts[4][256] = {};
  size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    ++counts[0][in[i]];
    ++counts[1][in[i + 1]];
    ++counts[2][in[i + 2]];
    ++counts[3][in[i + 3]];
  }
  for (; i < n; ++i) ++counts[0][in[i]];
  for (int c = 0; c < 256; ++c) freq[c] = counts[0][c] + counts[1][c] + counts[2][c] + counts[3][c];
}

// Finds the long runs of one byte into `runs`, and counts them as coded:
// the first byte a literal, the rest matches at distance one (their length
// codes into `freq`, their extra and distance bits into `extraBits`).
// Returns the number of runs.
size_t findRuns(const unsigned char* in, size_t n, ByteRun* runs, uint32_t* freq,
                uint64_t& extraBits) {
  const LengthCodes& lc = lengthCodes();
  size_t runCount = 0;
  // Each run holds an aligned word of eight equal bytes, which is cheap to
  // look for.
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
      freq[c] -= static_cast<uint32_t>(to - from - 1);
      for (size_t left = to - from - 1; left > 0;) {
        size_t k = nextMatch(left);
        uint16_t code = lc.code[k];
        ++freq[kFirstLengthCode + code];
        extraBits += lc.extra[code] + 1;  // and the distance code
        left -= k;
      }
    }
    w = (to + 7) / 8 * 8 - 8;
  }
  return runCount;
}

// The code lengths of both codes as deflate's header sends them: one
// run-length coded sequence in the code-length code.
struct HeaderCode {
  int hlit = 0;   // literal/length codes sent
  int hclen = 0;  // code-length codes sent
  int count = 0;  // symbols of the sequence
  uint16_t syms[kLitLen + 2];
  uint8_t extra[kLitLen + 2];
  uint8_t lens[kCodeLengthCodes];  // of the code-length code
  uint16_t codes[kCodeLengthCodes];
  uint64_t bits = 0;  // the header's size
};

void addSymbol(HeaderCode& h, int sym, int extra) {
  h.syms[h.count] = static_cast<uint16_t>(sym);
  h.extra[h.count++] = static_cast<uint8_t>(extra);
}

// Appends `run` lengths `v` to the sequence, in repeat symbols where they
// are shorter.
void addLengths(HeaderCode& h, uint8_t v, int run) {
  if (v == 0) {
    while (run >= 11) {
      int m = std::min(run, 138);
      addSymbol(h, kRepeatZerosLong, m - 11);
      run -= m;
    }
    if (run >= 3) {
      addSymbol(h, kRepeatZeros, run - 3);
      run = 0;
    }
  } else {
    addSymbol(h, v, 0);
    --run;
    while (run >= 3) {
      int m = std::min(run, 6);
      addSymbol(h, kRepeatPrevious, m - 3);
      run -= m;
    }
  }
  for (; run > 0; --run) addSymbol(h, v, 0);
}

int extraBitsOf(int sym) { return sym >= kRepeatPrevious ? kRepeatExtraBits[sym - 16] : 0; }

// Codes the literal/length code lengths `lens` and the two one-bit
// distance codes (distance one is the only one used) into `h`.
void codeTheCodeLengths(const uint8_t* lens, HeaderCode& h) {
  h.hlit = kLitLen;
  while (h.hlit > kFirstLengthCode && lens[h.hlit - 1] == 0) --h.hlit;
  uint8_t all[kLitLen + 2];
  std::memcpy(all, lens, static_cast<size_t>(h.hlit));
  all[h.hlit] = all[h.hlit + 1] = 1;
  int total = h.hlit + 2;
  for (int k = 0; k < total;) {
    int run = 1;
    while (k + run < total && all[k + run] == all[k]) ++run;
    addLengths(h, all[k], run);
    k += run;
  }
  uint32_t freq[kCodeLengthCodes] = {};
  for (int k = 0; k < h.count; ++k) ++freq[h.syms[k]];
  buildLengths(freq, kCodeLengthCodes, kMaxCodeLengthBits, h.lens);
  buildCodes(h.lens, kCodeLengthCodes, h.codes);
  h.hclen = kCodeLengthCodes;
  while (h.hclen > 4 && h.lens[kCodeLengthOrder[h.hclen - 1]] == 0) --h.hclen;
  h.bits = kHeaderFixedBits + kCodeLengthLengthBits * static_cast<uint64_t>(h.hclen);
  for (int k = 0; k < h.count; ++k) h.bits += h.lens[h.syms[k]] + extraBitsOf(h.syms[k]);
}

// The block header: one last block of dynamic codes, then the code
// lengths.
void writeHeader(BitWriter& w, const HeaderCode& h) {
  w.add(1, 1);  // the last block
  w.add(2, 2);  // dynamic Huffman codes
  w.add(static_cast<uint64_t>(h.hlit - kFirstLengthCode), 5);
  w.add(1, 5);  // two distance codes
  w.put(static_cast<uint64_t>(h.hclen - 4), 4);
  for (int k = 0; k < h.hclen; ++k) w.put(h.lens[kCodeLengthOrder[k]], kCodeLengthLengthBits);
  for (int k = 0; k < h.count; ++k) {
    int sym = h.syms[k];
    w.add(h.codes[sym], h.lens[sym]);
    w.put(sym >= kRepeatPrevious ? h.extra[k] : 0, extraBitsOf(sym));
  }
}

// The block's data: literals, and each run after its first byte as
// matches at distance one; then the end of the block.
void writeBody(BitWriter& w, const unsigned char* in, size_t n, const ByteRun* runs,
               size_t runCount, const uint16_t* codes, const uint8_t* lens) {
  const LengthCodes& lc = lengthCodes();
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
      size_t k = nextMatch(left);
      uint16_t code = lc.code[k];
      w.add(codes[kFirstLengthCode + code], lens[kFirstLengthCode + code]);
      w.add(k - lc.base[code], lc.extra[code]);
      w.put(0, 1);  // distance code 0: distance one
      left -= k;
    }
    at = runs[r].at + runs[r].length;
  }
  w.put(codes[kEndOfBlock], lens[kEndOfBlock]);
}

}  // namespace

SequenceDeflater::SequenceDeflater() : runs_(std::make_unique<ByteRun[]>(kMaxBlock / 8 + 1)) {}

size_t SequenceDeflater::deflate(const unsigned char* in, size_t n, unsigned char* out,
                                 size_t cap) {
  if (n > kMaxBlock) return 0;
  uint32_t freq[kLitLen] = {};
  countBytes(in, n, freq);
  uint64_t extraBits = 0;
  size_t runCount = findRuns(in, n, runs_.get(), freq, extraBits);
  freq[kEndOfBlock] = 1;

  uint8_t lens[kLitLen];
  buildLengths(freq, kLitLen, kMaxCodeBits, lens);
  uint64_t bits = extraBits;
  for (int s = 0; s < kLitLen; ++s) bits += static_cast<uint64_t>(freq[s]) * lens[s];
  if (bits > kMaxBitsPerByte * n + 64) return 0;

  HeaderCode header;
  codeTheCodeLengths(lens, header);
  if ((header.bits + bits + 7) / 8 + kWriterSlack > cap) return 0;

  uint16_t codes[kLitLen] = {};
  buildCodes(lens, kLitLen, codes);
  BitWriter w(out);
  writeHeader(w, header);
  writeBody(w, in, n, runs_.get(), runCount, codes, lens);
  return w.finish();
}

// SPDX-License-Identifier: MIT
// The inflater is a state machine that can stop after any bit, as zlib's
// is, with a fast loop for the bulk of the data: there the input holds 8
// bytes more and the output 258 bytes (the longest match) more than one
// symbol can use, so no symbol needs a check on the way.
#include "input/gzip_inflater.h"

#include <algorithm>
#include <cstring>

#include "common/crc32.h"

namespace {

// A table entry: the code's length in bits 0-7, its kind in bits 8-11, the
// number of extra bits that follow it in bits 12-15, its value (a literal,
// a base length or distance, a code-length symbol, or where a second-level
// table starts) in bits 16-31. A second-level entry gives its table's
// index bits as its extra bits, and the root's length.
enum Kind : uint32_t { kLiteral, kLengthBase, kEnd, kSubtable, kInvalid, kDistBase };

constexpr uint32_t entry(uint32_t len, uint32_t kind, uint32_t extra, uint32_t value) {
  return len | kind << 8 | extra << 12 | value << 16;
}
constexpr unsigned lenOf(uint32_t e) { return e & 0xff; }
constexpr uint32_t kindOf(uint32_t e) { return (e >> 8) & 0xf; }
constexpr unsigned extraOf(uint32_t e) { return (e >> 12) & 0xf; }
constexpr unsigned valueOf(uint32_t e) { return e >> 16; }

constexpr int kLitRoot = 10;
constexpr int kDistRoot = 8;
constexpr int kCodeRoot = 7;
constexpr unsigned kMaxBits = 15;
// Enough output for the longest match, and room for the 8-byte copies that
// may run past it.
constexpr size_t kFastOut = 258 + 8;

constexpr uint16_t kLengthBases[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                       15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                       67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtras[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBases[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                     33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                     1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtras[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                     6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order the lengths of the code-length code come in.
constexpr uint8_t kCodeOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                    11, 4,  12, 3, 13, 2, 14, 1, 15};

enum class Code { kCodeLengths, kLiterals, kDistances };

uint32_t symbolEntry(Code code, unsigned sym, unsigned len) {
  switch (code) {
    case Code::kCodeLengths: return entry(len, kLiteral, 0, sym);
    case Code::kLiterals:
      if (sym < 256) return entry(len, kLiteral, 0, sym);
      if (sym == 256) return entry(len, kEnd, 0, 0);
      // 286 and 287 have codes in fixed blocks, but no meaning.
      if (sym < 286)
        return entry(len, kLengthBase, kLengthExtras[sym - 257], kLengthBases[sym - 257]);
      return entry(len, kInvalid, 0, 0);
    case Code::kDistances:
      if (sym < 30) return entry(len, kDistBase, kDistExtras[sym], kDistBases[sym]);
      return entry(len, kInvalid, 0, 0);
  }
  return entry(len, kInvalid, 0, 0);
}

unsigned reversed(unsigned code, unsigned len) {
  unsigned r = 0;
  for (unsigned i = 0; i < len; ++i, code >>= 1) r = (r << 1) | (code & 1);
  return r;
}

// Builds the decoding table of the canonical code with the `n` lengths at
// `lens`: 2^root entries indexed by the next input bits, then a table for
// each root entry whose codes are longer. Refuses the lengths zlib refuses:
// too many codes of a length, or too few, unless the code is a single code
// of one bit (or, for distances, has no code at all), whose missing codes
// are then invalid.
bool buildTable(const uint8_t* lens, unsigned n, Code code, int root,
                std::vector<uint32_t>& table) {
  unsigned count[kMaxBits + 1] = {};
  for (unsigned s = 0; s < n; ++s) ++count[lens[s]];
  unsigned max = kMaxBits;
  while (max > 0 && count[max] == 0) --max;
  table.assign(size_t{1} << root, entry(1, kInvalid, 0, 0));
  if (max == 0) return code == Code::kDistances;
  int left = 1;
  for (unsigned len = 1; len <= kMaxBits; ++len) {
    left = 2 * left - static_cast<int>(count[len]);
    if (left < 0) return false;
  }
  if (left > 0 && (code == Code::kCodeLengths || max != 1)) return false;

  // The symbols in the order of their codes: by length, then by value.
  unsigned next[kMaxBits + 2] = {};
  for (unsigned len = 1; len <= kMaxBits; ++len) next[len + 1] = next[len] + count[len];
  unsigned sorted[320];
  for (unsigned s = 0; s < n; ++s) {
    if (lens[s] != 0) sorted[next[lens[s]]++] = s;
  }
  const unsigned coded = next[kMaxBits + 1];

  // Longer codes that share their first `root` bits are contiguous, the
  // longest last: its length sizes their table.
  const unsigned rootSize = 1u << root;
  std::vector<uint8_t> subBits(rootSize, 0);
  unsigned c = 0, len = 0;
  std::vector<unsigned> codes(coded);
  for (unsigned i = 0; i < coded; ++i) {
    unsigned l = lens[sorted[i]];
    c <<= (l - len);
    len = l;
    codes[i] = reversed(c++, len);
    if (len > static_cast<unsigned>(root))
      subBits[codes[i] & (rootSize - 1)] = static_cast<uint8_t>(len - root);
  }
  for (unsigned i = 0; i < coded; ++i) {
    unsigned l = lens[sorted[i]];
    uint32_t e = symbolEntry(code, sorted[i], l);
    unsigned at = codes[i];
    // A code of l bits fills every entry whose first l bits are its own.
    if (l <= static_cast<unsigned>(root)) {
      for (unsigned k = at, n = rootSize >> l; n > 0; --n, k += 1u << l) table[k] = e;
      continue;
    }
    unsigned prefix = at & (rootSize - 1);
    if (kindOf(table[prefix]) != kSubtable) {
      unsigned bits = subBits[prefix];
      table[prefix] = entry(root, kSubtable, bits, static_cast<uint32_t>(table.size()));
      table.resize(table.size() + (size_t{1} << bits), entry(1, kInvalid, 0, 0));
    }
    unsigned base = valueOf(table[prefix]) + (at >> root);
    for (unsigned n = 1u << (extraOf(table[prefix]) - (l - root)); n > 0; --n) {
      table[base] = e;
      base += 1u << (l - root);
    }
  }
  return true;
}

// The entry for the code at the start of `hold`. Bits beyond those taken
// are zero: the entry found then has a length beyond them.
inline uint32_t lookup(const uint32_t* table, int root, uint64_t hold) {
  uint32_t e = table[hold & ((1u << root) - 1)];
  if (kindOf(e) == kSubtable) e = table[valueOf(e) + ((hold >> root) & ((1u << extraOf(e)) - 1))];
  return e;
}

uint64_t littleEndian64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

GzipInflater::Result GzipInflater::step(const unsigned char* in, size_t inLen, unsigned char* out,
                                        size_t outLen, size_t& inUsed, size_t& outUsed) {
  in_ = in;
  inEnd_ = in + inLen;
  out_ = settled_ = out;
  outEnd_ = out + outLen;
  Result r = run();
  settle();
  inUsed = static_cast<size_t>(in_ - in);
  outUsed = static_cast<size_t>(out_ - out);
  if (r == Result::kMemberEnded) startMember();
  return r;
}

void GzipInflater::startMember() {
  mode_ = Mode::kHeader;
  header_ = Header::kFixed;
  have_ = 0;
  headerCrc_ = 0;
  last_ = false;
  crc_ = 0;
  memberOut_ = 0;
}

// Folds this step's new output into the check value, the count and the
// window, which keeps the member's last 32 KiB for the matches of later
// steps.
void GzipInflater::settle() {
  size_t n = static_cast<size_t>(out_ - settled_);
  crc_ = crc32Update(crc_, settled_, n);
  memberOut_ += n;
  const unsigned char* from = settled_;
  if (n >= kWindow) {
    from += n - kWindow;
    n = kWindow;
  }
  while (n > 0) {
    size_t part = std::min(n, kWindow - windowNext_);
    std::memcpy(window_.data() + windowNext_, from, part);
    windowNext_ = (windowNext_ + part) % kWindow;
    from += part;
    n -= part;
  }
  settled_ = out_;
}

bool GzipInflater::need(unsigned n) {
  while (bits_ < n) {
    if (in_ == inEnd_) return false;
    hold_ |= uint64_t{*in_++} << bits_;
    bits_ += 8;
  }
  return true;
}

bool GzipInflater::takeByte(unsigned& b) {
  if (!need(8)) return false;
  b = bitsOf(8);
  drop(8);
  return true;
}

bool GzipInflater::decode(const std::vector<uint32_t>& table, int root, uint32_t& e) {
  for (;;) {
    e = lookup(table.data(), root, hold_);
    if (lenOf(e) <= bits_) return true;
    if (!need(bits_ + 8)) return false;
  }
}

// The header's fields, each taken as its bytes come; false when the input
// ran out first or the header is damaged (then mode_ is kBad).
bool GzipInflater::header() {
  unsigned b = 0;
  for (;;) {
    switch (header_) {
      case Header::kFixed:
        while (have_ < fixed_.size()) {
          if (!takeByte(b)) return false;
          fixed_[have_++] = static_cast<unsigned char>(b);
          headerCrc_ = crc32Update(headerCrc_, &fixed_[have_ - 1], 1);
          if (have_ == 2 && (fixed_[0] != 0x1f || fixed_[1] != 0x8b)) return fail();
          // Deflate, and none of the flags no version of the format has.
          if (have_ == 4 && (fixed_[2] != 8 || (fixed_[3] & 0xe0) != 0)) return fail();
        }
        flags_ = fixed_[3];
        have_ = 0;
        extraLeft_ = 0;
        header_ = Header::kExtraSize;
        break;
      case Header::kExtraSize:
        while ((flags_ & 0x04) != 0 && have_ < 2) {
          if (!takeByte(b)) return false;
          unsigned char c = static_cast<unsigned char>(b);
          headerCrc_ = crc32Update(headerCrc_, &c, 1);
          extraLeft_ |= b << (8 * have_++);
        }
        header_ = Header::kExtra;
        break;
      case Header::kExtra:
      case Header::kName:
      case Header::kComment:
        for (;;) {
          bool more = header_ == Header::kExtra  ? extraLeft_ > 0
                      : header_ == Header::kName ? (flags_ & 0x08) != 0
                                                 : (flags_ & 0x10) != 0;
          if (!more) break;
          if (!takeByte(b)) return false;
          unsigned char c = static_cast<unsigned char>(b);
          headerCrc_ = crc32Update(headerCrc_, &c, 1);
          if (header_ == Header::kExtra) {
            --extraLeft_;
          } else if (b == 0) {
            break;
          }
        }
        header_ = header_ == Header::kExtra  ? Header::kName
                  : header_ == Header::kName ? Header::kComment
                                             : Header::kCheck;
        break;
      case Header::kCheck:
        if ((flags_ & 0x02) != 0) {
          if (!need(16)) return false;
          if (bitsOf(16) != (headerCrc_ & 0xffff)) return fail();
          drop(16);
        }
        header_ = Header::kDone;
        break;
      case Header::kDone: return true;
    }
  }
}

// The lengths of a dynamic block's two codes, coded with the code-length
// code; false when the input ran out first or they are damaged.
bool GzipInflater::codeLengths() {
  const unsigned total = nlen_ + ndist_;
  while (have_ < total) {
    uint32_t e = 0;
    if (!decode(codeTable_, kCodeRoot, e)) return false;
    unsigned sym = valueOf(e), len = lenOf(e);
    if (sym < 16) {
      drop(len);
      lens_[have_++] = static_cast<uint8_t>(sym);
      continue;
    }
    unsigned extra = sym == 16 ? 2 : sym == 17 ? 3 : 7;
    if (!need(len + extra)) return false;
    drop(len);
    if (sym == 16 && have_ == 0) return fail();
    uint8_t repeated = sym == 16 ? lens_[have_ - 1] : 0;
    unsigned times = (sym == 18 ? 11 : 3) + bitsOf(extra);
    drop(extra);
    if (have_ + times > total) return fail();
    std::fill_n(lens_.begin() + have_, times, repeated);
    have_ += times;
  }
  // A block must be able to end.
  if (lens_[256] == 0) return fail();
  if (!buildTable(lens_.data(), nlen_, Code::kLiterals, kLitRoot, litTable_)) return fail();
  if (!buildTable(lens_.data() + nlen_, ndist_, Code::kDistances, kDistRoot, distTable_)) {
    return fail();
  }
  return true;
}

GzipInflater::Result GzipInflater::run() {
  for (;;) {
    switch (mode_) {
      case Mode::kHeader:
        if (!header()) return mode_ == Mode::kBad ? Result::kFailed : Result::kGoing;
        mode_ = Mode::kBlock;
        break;
      case Mode::kBlock:
        if (last_) {
          // The trailer starts at the next byte.
          drop(bits_ % 8);
          mode_ = Mode::kCheck;
          break;
        }
        if (!need(3)) return Result::kGoing;
        last_ = bitsOf(1) != 0;
        if (!startBlock(bitsOf(3) >> 1)) return Result::kFailed;
        drop(3);
        break;
      case Mode::kStored:
        drop(bits_ % 8);
        if (!need(32)) return Result::kGoing;
        if ((bitsOf(32) & 0xffff) != ((bitsOf(32) >> 16) ^ 0xffff)) return failed();
        storedLeft_ = bitsOf(16);
        drop(32);
        mode_ = Mode::kStoredCopy;
        break;
      case Mode::kStoredCopy:
        if (!copyStored()) return Result::kGoing;
        mode_ = Mode::kBlock;
        break;
      case Mode::kTableSizes:
        if (!need(14)) return Result::kGoing;
        nlen_ = 257 + bitsOf(5);
        ndist_ = 1 + ((bitsOf(10) >> 5));
        ncode_ = 4 + (bitsOf(14) >> 10);
        drop(14);
        if (nlen_ > 286 || ndist_ > 30) return failed();
        have_ = 0;
        mode_ = Mode::kCodeLengthCodes;
        break;
      case Mode::kCodeLengthCodes:
        for (; have_ < ncode_; ++have_) {
          if (!need(3)) return Result::kGoing;
          lens_[kCodeOrder[have_]] = static_cast<uint8_t>(bitsOf(3));
          drop(3);
        }
        for (; have_ < 19; ++have_) lens_[kCodeOrder[have_]] = 0;
        if (!buildTable(lens_.data(), 19, Code::kCodeLengths, kCodeRoot, codeTable_)) {
          return failed();
        }
        have_ = 0;
        mode_ = Mode::kCodeLengths;
        break;
      case Mode::kCodeLengths:
        if (!codeLengths()) return mode_ == Mode::kBad ? Result::kFailed : Result::kGoing;
        mode_ = Mode::kLen;
        break;
      case Mode::kLen: {
        if (inEnd_ - in_ >= 8 && static_cast<size_t>(outEnd_ - out_) >= kFastOut) {
          decodeFast();
          break;
        }
        uint32_t e = 0;
        if (!decode(litTable_, kLitRoot, e)) return Result::kGoing;
        uint32_t kind = kindOf(e);
        if (kind == kLiteral) {
          if (out_ == outEnd_) return Result::kGoing;
          *out_++ = static_cast<unsigned char>(valueOf(e));
        } else if (kind == kLengthBase) {
          length_ = valueOf(e);
          extra_ = extraOf(e);
          mode_ = Mode::kLenExtra;
        } else if (kind == kEnd) {
          mode_ = Mode::kBlock;
        } else {
          return failed();
        }
        drop(lenOf(e));
        break;
      }
      case Mode::kLenExtra:
        if (!need(extra_)) return Result::kGoing;
        length_ += bitsOf(extra_);
        drop(extra_);
        mode_ = Mode::kDist;
        break;
      case Mode::kDist: {
        uint32_t e = 0;
        if (!decode(distTable_, kDistRoot, e)) return Result::kGoing;
        if (kindOf(e) != kDistBase) return failed();
        dist_ = valueOf(e);
        extra_ = extraOf(e);
        drop(lenOf(e));
        mode_ = Mode::kDistExtra;
        break;
      }
      case Mode::kDistExtra:
        if (!need(extra_)) return Result::kGoing;
        dist_ += bitsOf(extra_);
        drop(extra_);
        // No match reaches back before the member's first byte.
        if (dist_ > memberOut_ + static_cast<size_t>(out_ - settled_)) return failed();
        mode_ = Mode::kMatch;
        break;
      case Mode::kMatch:
        copyMatch();
        if (length_ > 0) return Result::kGoing;
        mode_ = Mode::kLen;
        break;
      case Mode::kCheck:
        settle();
        if (!need(32)) return Result::kGoing;
        if (bitsOf(32) != crc_) return failed();
        drop(32);
        mode_ = Mode::kLength;
        break;
      case Mode::kLength:
        // The length is kept modulo 2^32.
        if (!need(32)) return Result::kGoing;
        if (bitsOf(32) != static_cast<uint32_t>(memberOut_)) return failed();
        drop(32);
        return Result::kMemberEnded;
      case Mode::kBad: return Result::kFailed;
    }
  }
}

bool GzipInflater::startBlock(unsigned type) {
  switch (type) {
    case 0: mode_ = Mode::kStored; return true;
    case 1: {
      uint8_t fixed[288 + 32];
      std::fill_n(fixed, 144, 8);
      std::fill_n(fixed + 144, 112, 9);
      std::fill_n(fixed + 256, 24, 7);
      std::fill_n(fixed + 280, 8, 8);
      std::fill_n(fixed + 288, 32, 5);
      buildTable(fixed, 288, Code::kLiterals, kLitRoot, litTable_);
      buildTable(fixed + 288, 32, Code::kDistances, kDistRoot, distTable_);
      mode_ = Mode::kLen;
      return true;
    }
    case 2: mode_ = Mode::kTableSizes; return true;
    default: return fail();
  }
}

// A stored block's bytes, straight from the input: its lengths took the
// last bits held. False while some are left.
bool GzipInflater::copyStored() {
  size_t n = std::min({size_t{storedLeft_}, static_cast<size_t>(inEnd_ - in_),
                       static_cast<size_t>(outEnd_ - out_)});
  std::memcpy(out_, in_, n);
  in_ += n;
  out_ += n;
  storedLeft_ -= static_cast<unsigned>(n);
  return storedLeft_ == 0;
}

// Copies what fits of the match of length_ bytes at dist_ back: from the
// window for the part before this step's output, then from the output.
void GzipInflater::copyMatch() {
  while (length_ > 0 && out_ < outEnd_) {
    size_t recent = static_cast<size_t>(out_ - settled_);
    size_t room = static_cast<size_t>(outEnd_ - out_);
    if (dist_ > recent) {
      size_t back = dist_ - recent;
      size_t at = (windowNext_ + kWindow - back) % kWindow;
      size_t n = std::min({size_t{length_}, back, room, kWindow - at});
      std::memcpy(out_, window_.data() + at, n);
      out_ += n;
      length_ -= static_cast<unsigned>(n);
      continue;
    }
    size_t n = std::min(size_t{length_}, room);
    const unsigned char* from = out_ - dist_;
    for (size_t i = 0; i < n; ++i) out_[i] = from[i];
    out_ += n;
    length_ -= static_cast<unsigned>(n);
  }
}

// Whole symbols while the input and output have room for any: the bits of
// one (at most 48) are there after each refill, and the output has room
// for the longest match and the copy's overrun.
void GzipInflater::decodeFast() {
  const unsigned char* in = in_;
  const unsigned char* const inStart = in_;
  unsigned char* out = out_;
  uint64_t hold = hold_;
  unsigned bits = bits_;
  const uint32_t* lit = litTable_.data();
  const uint32_t* dist = distTable_.data();
  while (inEnd_ - in >= 8 && static_cast<size_t>(outEnd_ - out) >= kFastOut) {
    // The next eight bytes over the bits held: only whole bytes count as
    // taken; the bits above count stay the stream's own.
    hold |= littleEndian64(in) << bits;
    in += (63 - bits) >> 3;
    bits |= 56;
    uint32_t e = lookup(lit, kLitRoot, hold);
    hold >>= lenOf(e);
    bits -= lenOf(e);
    uint32_t kind = kindOf(e);
    if (kind == kLiteral) {
      *out++ = static_cast<unsigned char>(valueOf(e));
      continue;
    }
    if (kind != kLengthBase) {
      mode_ = kind == kEnd ? Mode::kBlock : Mode::kBad;
      break;
    }
    unsigned length = valueOf(e) + static_cast<unsigned>(hold & ((1u << extraOf(e)) - 1));
    hold >>= extraOf(e);
    bits -= extraOf(e);
    e = lookup(dist, kDistRoot, hold);
    if (kindOf(e) != kDistBase) {
      mode_ = Mode::kBad;
      break;
    }
    hold >>= lenOf(e);
    bits -= lenOf(e);
    unsigned d = valueOf(e) + static_cast<unsigned>(hold & ((1u << extraOf(e)) - 1));
    hold >>= extraOf(e);
    bits -= extraOf(e);
    size_t recent = static_cast<size_t>(out - settled_);
    if (d > recent) {
      if (d > memberOut_ + recent) {
        mode_ = Mode::kBad;
        break;
      }
      out_ = out;
      length_ = length;
      dist_ = d;
      copyMatch();
      out = out_;
      continue;
    }
    const unsigned char* from = out - d;
    unsigned char* end = out + length;
    if (d >= 8) {
      // Eight bytes at a time, each from bytes already written.
      for (; out < end; out += 8, from += 8) std::memcpy(out, from, 8);
    } else {
      for (; out < end; ++out, ++from) *out = *from;
    }
    out = end;
  }
  // Whole bytes taken in this loop and not used go back to the input.
  size_t back = std::min(size_t{bits >> 3}, static_cast<size_t>(in - inStart));
  in_ = in - back;
  bits_ = bits - 8 * static_cast<unsigned>(back);
  hold_ = hold & ((uint64_t{1} << bits_) - 1);
  out_ = out;
}

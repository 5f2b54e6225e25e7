// SPDX-License-Identifier: MIT
// The 2bit output, packed as the records pass and written whole at the end.
#include "output/twobit.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

constexpr uint32_t kSignature = 0x1A412743;
constexpr size_t kCopyBytes = size_t{1} << 20;
constexpr uint64_t kMax32 = 0xFFFFFFFF;

// What a residue is written as: its two bits, and whether it is lower case
// (masked), an N, and an N that was another letter.
constexpr unsigned kLower = 4;
constexpr unsigned kN = 8;
constexpr unsigned kOther = 16;
constexpr unsigned kStateBits = kLower | kN;

constexpr std::array<unsigned char, 256> makeCodes() {
  std::array<unsigned char, 256> codes{};
  for (unsigned c = 0; c < 256; ++c) {
    bool lower = c >= 'a' && c <= 'z';
    unsigned upper = lower ? c - 'a' + 'A' : c;
    unsigned code = kN | kOther;
    if (upper == 'T') code = 0;
    if (upper == 'C') code = 1;
    if (upper == 'A') code = 2;
    if (upper == 'G') code = 3;
    if (upper == 'N') code = kN;
    codes[c] = static_cast<unsigned char>(code | (lower ? kLower : 0));
  }
  return codes;
}
constexpr std::array<unsigned char, 256> kCodes = makeCodes();

// The format's numbers are little-endian here, as the tools that read it
// expect of a file with this signature's bytes in this order.
void put32(std::string& to, uint64_t v) {
  for (int i = 0; i < 4; ++i) to.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
void put64(std::string& to, uint64_t v) {
  put32(to, v & kMax32);
  put32(to, v >> 32);
}

bool putAll(std::FILE* F, const void* p, size_t n) { return std::fwrite(p, 1, n, F) == n; }

// Eight bytes, the first the lowest, wherever they lie.
uint64_t load64(const unsigned char* p) {
  uint64_t w = 0;
  for (int i = 0; i < 8; ++i) w |= uint64_t{p[i]} << (8 * i);
  return w;
}

}  // namespace

TwoBitSink::Chunk TwoBitSink::newChunk() const {
  Chunk c;
  c.bytes = platform::largeMemory(chunkBytes_);
  return c;
}

bool TwoBitSink::open(const std::string& outName) {
  chunk_ = newChunk();
  // Through a link, as a write of the output would go.
  const std::string name = platform::writtenName(outName);
  return chunk_.bytes != nullptr && out_.create(name) && scratch_.create(name);
}

bool TwoBitSink::refuse(std::string why) {
  if (refusal_.empty()) refusal_ = std::move(why);
  failed_ = true;
  return false;
}

bool TwoBitSink::write(const unsigned char* p, size_t n) {
  Receiver to{*this};
  parser_.feed(p, n, to);
  if (length_ > kMax32) {
    refuse("Record " + names_.back() + " is longer than the 4294967295 bases 2bit output holds\n");
  }
  return !failed_;
}

void TwoBitSink::nextRecord(std::string_view name) {
  if (failed_ || !endRecord()) return;
  startRecord(name);
}

void TwoBitSink::residues(const unsigned char* p, size_t n) {
  if (inRecord_ && !failed_) pack(p, p + n);
}

void TwoBitSink::startRecord(std::string_view name) {
  const std::string number = std::to_string(names_.size() + 1);
  if (name.empty()) {
    refuse("Record " + number + " has no name; 2bit output needs one for each record\n");
    return;
  }
  if (name.size() > kNameMax) {
    refuse("The name of record " + number + " is longer than the 255 bytes 2bit output holds\n");
    return;
  }
  if (seen_.count(name) != 0) {
    refuse("Record " + number + " has the name " + std::string(name) +
           " of an earlier record; 2bit output needs each name once\n");
    return;
  }
  if (names_.size() == kMax32) {
    refuse("More records than the 4294967295 2bit output holds\n");
    return;
  }
  names_.emplace_back(name);
  seen_.insert(names_.back());
  inRecord_ = true;
}

void TwoBitSink::pack(const unsigned char* p, const unsigned char* end) {
  while (p < end) {
    // Up to a byte's boundary one residue at a time.
    if ((length_ & 3) != 0) {
      packSlowly(p, p + 1);
      ++p;
      continue;
    }
    if (chunk_.used + 2 > chunkBytes_) nextChunk();
    size_t words = std::min(static_cast<size_t>(end - p) / 8, (chunkBytes_ - chunk_.used) / 2);
    if (words == 0) {
      packSlowly(p, end);
      return;
    }
    size_t done = packWords(p, words);
    p += 8 * done;
    if (done < words) {
      // A run of N or of lower case begins or ends within these eight.
      packSlowly(p, p + 8);
      p += 8;
    }
  }
}

// Eight residues to two bytes while all of them go on the runs of the last
// one: the runs are long in the sequences of this field. The number of
// eights packed.
size_t TwoBitSink::packWords(const unsigned char* p, size_t words) {
  constexpr uint64_t kOnes = 0x0101010101010101;
  constexpr uint64_t kCase = 0x20 * kOnes;
  unsigned char* out = chunk_.bytes.get() + chunk_.used;
  const uint64_t lower = (state_ & kLower) != 0 ? kCase : 0;
  size_t done = 0;
  if ((state_ & kN) != 0) {
    // A run of N packs as T, 0.
    const uint64_t n = lower | ('N' * kOnes);
    for (; done < words; ++done, p += 8) {
      if (load64(p) != n) break;
      out[2 * done] = 0;
      out[2 * done + 1] = 0;
    }
  } else {
    for (; done < words; ++done, p += 8) {
      const uint64_t w = load64(p);
      if ((w & kCase) != lower) break;
      // Bits 1 and 2 of A, C, G, T tell them apart: 0, 1, 3, 2. The
      // letter they stand for must be the residue itself.
      const uint64_t upper = w & ~kCase;
      const uint64_t x = (upper >> 1) & (3 * kOnes);
      const uint64_t isT = (x >> 1) & ~x & kOnes;
      if (upper != 'A' * kOnes + (x << 1) + 0x0F * isT) break;
      // 0, 1, 3, 2 to A 2, C 1, G 3, T 0; then four to a byte, the first
      // in the high bits.
      const uint64_t code = x ^ ((~x & kOnes) << 1);
      const uint64_t pairs = (code & 0x0003000300030003) << 2 | ((code >> 8) & 0x0003000300030003);
      const uint64_t quads =
          (pairs & 0x0000000F0000000F) << 4 | ((pairs >> 16) & 0x0000000F0000000F);
      out[2 * done] = static_cast<unsigned char>(quads & 0xFF);
      out[2 * done + 1] = static_cast<unsigned char>((quads >> 32) & 0xFF);
    }
  }
  chunk_.used += 2 * done;
  length_ += 8 * done;
  return done;
}

// Residues one at a time: up to a byte's boundary, and where a run of N or
// of lower case begins or ends.
void TwoBitSink::packSlowly(const unsigned char* p, const unsigned char* end) {
  for (; p < end; ++p) {
    unsigned code = kCodes[*p];
    unsigned state = code & kStateBits;
    if (state != state_) changeRuns(state);
    writtenAsN_ += code >> 4;
    partial_ = (partial_ << 2 | (code & 3)) & 0xFF;
    ++length_;
    if ((length_ & 3) == 0) putByte(static_cast<unsigned char>(partial_));
  }
}

void TwoBitSink::changeRuns(unsigned state) {
  const unsigned changed = state ^ state_;
  for (unsigned k = 0; k < 2; ++k) {
    const unsigned bit = k == 0 ? kN : kLower;
    if ((changed & bit) == 0) continue;
    if ((state & bit) != 0) {
      runStart_[k] = length_;
    } else {
      runs_[k].push_back(static_cast<uint32_t>(runStart_[k]));
      runs_[k].push_back(static_cast<uint32_t>(length_ - runStart_[k]));
    }
  }
  state_ = state;
}

bool TwoBitSink::endRecord() {
  if (!inRecord_) return !failed_;
  inRecord_ = false;
  changeRuns(0);
  // The last byte's free bases are T, 0.
  if ((length_ & 3) != 0)
    putByte(static_cast<unsigned char>(partial_ << (2 * (4 - (length_ & 3)))));
  Record r{static_cast<uint32_t>(length_), 0, 0};
  for (unsigned k = 0; k < 2; ++k) {
    // Starts, then sizes.
    std::vector<uint32_t>& runs = runs_[k];
    for (size_t i = 0; i < runs.size(); i += 2) blocks_.push_back(runs[i]);
    for (size_t i = 1; i < runs.size(); i += 2) blocks_.push_back(runs[i]);
    (k == 0 ? r.nBlocks : r.maskBlocks) = static_cast<uint32_t>(runs.size() / 2);
    runs.clear();
  }
  records_.push_back(r);
  length_ = 0;
  partial_ = 0;
  return !failed_;
}

// The chunk being filled is full: kept, or, past the memory allowed, all
// chunks go to the scratch file.
void TwoBitSink::nextChunk() {
  if (!spilled_ && (chunks_.size() + 2) * uint64_t{chunkBytes_} <= memoryMax_) {
    Chunk next = newChunk();
    if (next.bytes != nullptr) {
      chunks_.push_back(std::move(chunk_));
      chunk_ = std::move(next);
      return;
    }
  }
  for (const Chunk& c : chunks_) {
    if (!spill(c.bytes.get(), c.used)) break;
  }
  chunks_.clear();
  spilled_ = true;
  spill(chunk_.bytes.get(), chunk_.used);
  chunk_.used = 0;
}

bool TwoBitSink::spill(const unsigned char* p, size_t n) {
  if (!failed_ && !putAll(scratch_.stream(), p, n)) failed_ = true;
  return !failed_;
}

// The next `n` packed bytes: from the chunks in memory, or from the scratch
// file once spilled (`from`), through `buffer`.
bool TwoBitSink::copyPacked(std::FILE* to, uint64_t n, std::FILE* from,
                            std::vector<unsigned char>& buffer) {
  while (n > 0) {
    if (from != nullptr) {
      size_t take = static_cast<size_t>(std::min<uint64_t>(n, buffer.size()));
      if (std::fread(buffer.data(), 1, take, from) != take || !putAll(to, buffer.data(), take))
        return false;
      n -= take;
      continue;
    }
    const Chunk& c = chunkAt_ < chunks_.size() ? chunks_[chunkAt_] : chunk_;
    if (copied_ == c.used) {
      ++chunkAt_;
      copied_ = 0;
      continue;
    }
    size_t take = static_cast<size_t>(std::min<uint64_t>(n, c.used - copied_));
    if (!putAll(to, c.bytes.get() + copied_, take)) return false;
    copied_ += take;
    n -= take;
  }
  return true;
}

// The header and the index, then each record after its blocks.
bool TwoBitSink::assemble() {
  const uint64_t records = records_.size();
  uint64_t names = 0, data = 0;
  for (const std::string& name : names_) names += 1 + name.size();
  for (const Record& r : records_) data += r.bytes();
  const bool wide = 16 + names + 4 * records + data > longFrom_;
  uint64_t offset = 16 + names + (wide ? 8 : 4) * records;
  std::FILE* F = out_.stream();
  std::string head;
  put32(head, kSignature);
  put32(head, wide ? 1 : 0);
  put32(head, records);
  put32(head, 0);
  bool ok = true;
  for (size_t i = 0; i < records; ++i) {
    head.push_back(static_cast<char>(names_[i].size()));
    head += names_[i];
    if (wide) {
      put64(head, offset);
    } else {
      put32(head, offset);
    }
    offset += records_[i].bytes();
    if (head.size() >= kCopyBytes) {
      ok = ok && putAll(F, head.data(), head.size());
      head.clear();
    }
  }
  std::FILE* from = nullptr;
  if (spilled_) {
    ok = ok && spill(chunk_.bytes.get(), chunk_.used) && scratch_.close();
    from = ok ? std::fopen(scratch_.tempName().c_str(), "rb") : nullptr;
    ok = ok && from != nullptr;
  }
  std::vector<unsigned char> buffer(spilled_ ? kCopyBytes : 0);
  const uint32_t* block = blocks_.data();
  for (size_t i = 0; ok && i < records; ++i) {
    const Record& r = records_[i];
    put32(head, r.length);
    put32(head, r.nBlocks);
    for (uint32_t k = 0; k < 2 * r.nBlocks; ++k) put32(head, *block++);
    put32(head, r.maskBlocks);
    for (uint32_t k = 0; k < 2 * r.maskBlocks; ++k) put32(head, *block++);
    put32(head, 0);  // reserved
    ok = putAll(F, head.data(), head.size()) && copyPacked(F, (r.length + 3ull) / 4, from, buffer);
    head.clear();
  }
  ok = ok && putAll(F, head.data(), head.size());
  if (from != nullptr) std::fclose(from);
  return ok && (!beforeCommit_ || beforeCommit_()) && out_.commit();
}

bool TwoBitSink::finish(Ending ending) {
  Receiver to{*this};
  parser_.end(to);
  bool ok = !failed_ && ending == Ending::kComplete && endRecord() && assemble();
  if (!ok) {
    if (ending == Ending::kComplete) failed_ = true;
    out_.discard();
  }
  scratch_.discard();
  chunks_.clear();
  return !failed_;
}

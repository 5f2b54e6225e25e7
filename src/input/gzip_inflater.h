// SPDX-License-Identifier: MIT
// gzip members decoded without a compression library, for the page (which
// has no zlib and whose JavaScript inflaters are slower by half). It steps
// as zlib's inflate() does with a gzip wrapper, so a decoder built on it
// reads every file as gzip_zlib.cpp reads it: the same bytes come out
// before any damage is found, the same damage is found, and a member ends
// at the same byte.
#ifndef QUENBREL_INPUT_GZIP_INFLATER_H
#define QUENBREL_INPUT_GZIP_INFLATER_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

class GzipInflater {
 public:
  enum class Result {
    kGoing,        // the input is used up or the output full
    kMemberEnded,  // a member ended, its checks passed; a new one may follow
    kFailed        // damage; every later step fails too
  };

  GzipInflater() = default;
  GzipInflater(const GzipInflater&) = delete;
  GzipInflater& operator=(const GzipInflater&) = delete;

  // Decodes the `inLen` bytes at `in` into the `outLen` bytes at `out`,
  // until the input is used up, the output is full, a member ends or damage
  // is found. `inUsed` and `outUsed` say how many bytes were taken and made.
  Result step(const unsigned char* in, size_t inLen, unsigned char* out, size_t outLen,
              size_t& inUsed, size_t& outUsed);

 private:
  enum class Mode {
    kHeader,
    kBlock,
    kStored,
    kStoredCopy,
    kTableSizes,
    kCodeLengthCodes,
    kCodeLengths,
    kLen,
    kLenExtra,
    kDist,
    kDistExtra,
    kMatch,
    kCheck,
    kLength,
    kBad
  };
  enum class Header { kFixed, kExtraSize, kExtra, kName, kComment, kCheck, kDone };
  static constexpr size_t kWindow = 32768;

  Result run();
  bool header();
  bool startBlock(unsigned type);
  bool copyStored();
  bool codeLengths();
  void decodeFast();
  void copyMatch();
  void startMember();
  void settle();

  bool need(unsigned n);
  bool takeByte(unsigned& b);
  bool decode(const std::vector<uint32_t>& table, int root, uint32_t& e);
  uint32_t bitsOf(unsigned n) const { return static_cast<uint32_t>(hold_ & ((1ull << n) - 1)); }
  void drop(unsigned n) {
    hold_ >>= n;
    bits_ -= n;
  }
  bool fail() {
    mode_ = Mode::kBad;
    return false;
  }
  Result failed() {
    mode_ = Mode::kBad;
    return Result::kFailed;
  }

  // This step's input and output; output from `settled_` on is not yet in
  // the check value, the member's count or the window.
  const unsigned char* in_ = nullptr;
  const unsigned char* inEnd_ = nullptr;
  unsigned char* out_ = nullptr;
  unsigned char* outEnd_ = nullptr;
  unsigned char* settled_ = nullptr;

  // Input bits taken and not yet used, the first in the lowest bit. Bits
  // above `bits_` are zero outside decodeFast().
  uint64_t hold_ = 0;
  unsigned bits_ = 0;

  Mode mode_ = Mode::kHeader;
  Header header_ = Header::kFixed;
  std::array<unsigned char, 10> fixed_{};
  unsigned have_ = 0;
  unsigned flags_ = 0;
  unsigned extraLeft_ = 0;
  uint32_t headerCrc_ = 0;

  bool last_ = false;
  unsigned storedLeft_ = 0;
  unsigned nlen_ = 0;
  unsigned ndist_ = 0;
  unsigned ncode_ = 0;
  std::array<uint8_t, 320> lens_{};
  std::vector<uint32_t> codeTable_;
  std::vector<uint32_t> litTable_;
  std::vector<uint32_t> distTable_;
  unsigned length_ = 0;
  unsigned dist_ = 0;
  unsigned extra_ = 0;

  uint32_t crc_ = 0;
  uint64_t memberOut_ = 0;
  // The member's last 32 KiB (or all of it, when shorter), in a ring whose
  // next byte goes to `windowNext_`. The ring is not cleared between
  // members: no match reaches back before its member's first byte.
  std::array<unsigned char, kWindow> window_{};
  size_t windowNext_ = 0;
};

#endif  // QUENBREL_INPUT_GZIP_INFLATER_H

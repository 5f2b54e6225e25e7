// SPDX-License-Identifier: MIT
// Sources of input bytes: the raw bytes of the input, and one decoder per
// compressed format, all with the same read shape.  Below them all is the
// input's ByteSource (common/bytes.h).
#ifndef QUENBREL_INPUT_SOURCE_H
#define QUENBREL_INPUT_SOURCE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "common/bytes.h"

// The message of a failed read, unless the source knows better.
constexpr char kReadFailedMessage[] = "Failed to read input.\n";

// How far the checks of a source's units (members, frames, streams) have
// come, after a read: the units that have ended with their checks passed,
// and the unit the last byte delivered belongs to, counted from 0. The
// bytes of unit k have all been checked once `ended` exceeds k.
struct UnitProgress {
  uint64_t ended = 1;
  uint64_t last = 0;
};

// A source of input bytes: the raw input, or a decoder of one compressed
// format reading its compressed bytes from the input.
class InputSource {
 public:
  virtual ~InputSource() = default;

  // Fills `buf` with up to `cap` decoded bytes. Returns the number of bytes
  // delivered (never 0 before the end), 0 at the clean end of the data, -1
  // on a read error or damaged data (and on every call after one). A
  // decoder delivers the bytes of one unit at a time.
  virtual long read(unsigned char* buf, size_t cap) = 0;

  // The message to report once read() has returned -1.
  virtual std::string message() const { return kReadFailedMessage; }

  // Where the checks stand after the last read. A source without checks
  // has checked every byte it delivered.
  virtual UnitProgress progress() const { return {}; }
};

// The raw input, read as it comes.
class RawSource : public InputSource {
 public:
  explicit RawSource(ByteSource& in) : in_(in) {}
  long read(unsigned char* buf, size_t cap) override { return in_.read(buf, cap); }

 private:
  ByteSource& in_;
};

// The compressed bytes of a decoder: first those the format was recognised
// by, then the rest of the input, one buffer at a time.
class CompressedBytes {
 public:
  // `head` holds the `n` bytes already read from `in`; they are copied.
  // `cap` is the buffer size (raised to `n` when smaller).
  CompressedBytes(ByteSource& in, const unsigned char* head, size_t n, size_t cap);

  unsigned char* data() { return buf_.get(); }
  // The number of bytes the buffer holds at first: the head.
  size_t headSize() const { return head_; }
  // Reads the next buffer of the input over the old one: the number of
  // bytes read, 0 at its end, -1 on a read error.
  long refill() { return in_.read(buf_.get(), cap_); }

 private:
  ByteSource& in_;
  size_t cap_;
  size_t head_;
  std::unique_ptr<unsigned char[]> buf_;
};

// The read loop every decoder shares: refilling the compressed bytes,
// delivering what was decoded before waiting for more input or before a
// failure, and the rules for where the data may end. A format implements
// only its step.
class Decoder : public InputSource {
 public:
  // A decoder owns library state that cannot be copied.
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  long read(unsigned char* buf, size_t cap) final;
  std::string message() const override { return message_; }
  UnitProgress progress() const final { return {unitsEnded_, lastUnit_}; }

 protected:
  // Where a step takes compressed bytes from and puts decoded ones; the
  // step moves both past what it used.
  struct Window {
    unsigned char* in;
    size_t inLeft;
    unsigned char* out;
    size_t outLeft;
    void used(size_t inUsed, size_t outUsed) {
      in += inUsed;
      inLeft -= inUsed;
      out += outUsed;
      outLeft -= outUsed;
    }
  };

  enum class Step {
    kGoing,      // the unit (member, frame, stream) goes on
    kUnitEnded,  // a unit ended, its checks passed: what follows must be
                 // a further unit, or the end of the data
    kDataEnded,  // the data ended cleanly (formats that see their end)
    kFailed,     // damaged data, or the library failed
  };

  // Where the data may end.
  enum class DataEnd {
    kBetweenUnits,  // only between units
    kFormatSays,    // the format itself checks that the data ends whole, so
                    // its step goes on being called once the input has ended
  };

  Decoder(ByteSource& in, const unsigned char* head, size_t n, size_t cap, DataEnd end);

  // Decodes what it can of `w`. `inputEnded`: no compressed bytes follow
  // those in the window.
  virtual Step step(Window& w, bool inputEnded) = 0;

  // A size for the libraries that count in 32 bits. The windows are far
  // smaller, but say so.
  static uint32_t count32(size_t n) {
    return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(n);
  }

  // Says what went wrong, when the format knows better than the plain
  // message.
  void setMessage(std::string message) { message_ = std::move(message); }

 private:
  std::string message_ = kReadFailedMessage;
  CompressedBytes bytes_;
  Window w_;
  const DataEnd end_;
  bool inUnit_ = true;       // a unit has begun and not yet ended
  bool needInput_ = false;   // the last step stopped for want of input
  bool inputEnded_ = false;  // the compressed bytes are all read
  bool failed_ = false;
  bool ended_ = false;
  uint64_t unitsEnded_ = 0;  // units whose checks passed
  uint64_t lastUnit_ = 0;    // the unit of the last byte delivered
};

#endif  // QUENBREL_INPUT_SOURCE_H

// SPDX-License-Identifier: MIT
// Sources of input bytes: the raw stream, and one decoder per compressed
// format, all with the same read shape.
#ifndef QUENBREL_INPUT_SOURCE_H
#define QUENBREL_INPUT_SOURCE_H

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

// Reads up to `cap` bytes of `F` into `buf`: straight from the descriptor
// when the stream has one (a pipe then delivers what it holds without
// waiting for a full block), else through the stream. Returns the number of
// bytes read, 0 at end of input, -1 on a read error.
long readRaw(FILE* F, unsigned char* buf, size_t cap);

// The message of a failed read, unless the source knows better.
constexpr char kReadFailedMessage[] = "Failed to read input.\n";

// A decoder of one compressed format, reading its compressed bytes from a
// stream.
class InputSource {
 public:
  virtual ~InputSource() = default;

  // Fills `buf` with up to `cap` decoded bytes. Returns the number of bytes
  // delivered (never 0 before the end), 0 at the clean end of the data, -1
  // on a read error or damaged data (and on every call after one).
  virtual long read(unsigned char* buf, size_t cap) = 0;

  // The message to report once read() has returned -1.
  virtual std::string message() const { return kReadFailedMessage; }
};

// The compressed bytes of a decoder: first those the format was recognised
// by, then the rest of the stream, one buffer at a time.
class CompressedBytes {
 public:
  // `head` holds the `n` bytes already read from `F`; they are copied.
  // `cap` is the buffer size (raised to `n` when smaller).
  CompressedBytes(FILE* F, const unsigned char* head, size_t n, size_t cap);

  unsigned char* data() { return buf_.get(); }
  // The number of bytes the buffer holds at first: the head.
  size_t headSize() const { return head_; }
  // Reads the next buffer of the stream over the old one: the number of
  // bytes read, 0 at its end, -1 on a read error.
  long refill() { return readRaw(F_, buf_.get(), cap_); }

 private:
  FILE* F_;
  size_t cap_;
  size_t head_;
  std::unique_ptr<unsigned char[]> buf_;
};

#endif  // QUENBREL_INPUT_SOURCE_H

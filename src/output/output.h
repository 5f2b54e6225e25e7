// SPDX-License-Identifier: MIT
// The engine's output: bytes gathered in a buffer and handed to the sink in
// large blocks. A write failure is remembered and ends the run at the next
// check.
#ifndef QUENBREL_OUTPUT_OUTPUT_H
#define QUENBREL_OUTPUT_OUTPUT_H

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "output/sink.h"

class Output {
 public:
  static constexpr size_t kCap = size_t{128} * 1024;
  // Bytes writable past what reserve() promised, for copies in whole steps.
  static constexpr size_t kSlack = 16;

  explicit Output(Sink* sink) : sink_(sink) {}

  void put(char c) {
    if (len_ == kCap) flush();
    buf_[len_++] = static_cast<unsigned char>(c);
  }
  void put(const void* p, size_t n);

  // Where `n` more bytes (n <= kCap), plus kSlack, can be written; commit()
  // then says where the writing ended.
  unsigned char* reserve(size_t n) {
    if (kCap - len_ < n) flush();
    return buf_ + len_;
  }
  void commit(unsigned char* end) { len_ = static_cast<size_t>(end - buf_); }

  // The output begins (Sink::begin()); a failure is a write failure.
  void begin() {
    if (!failed_ && !sink_->begin()) failed_ = true;
  }

  // Writes what the buffer holds.
  void flush();
  bool failed() const { return failed_; }

  // Flushes, then finishes the sink (which closes the stream unless it is
  // stdout, which is flushed). False when anything written since the start
  // failed.
  bool close(Ending ending);

 private:
  Sink* sink_;
  size_t len_ = 0;
  bool failed_ = false;
  unsigned char buf_[kCap + kSlack];
};

// Copies `n` bytes in 16-byte steps; may write up to 15 bytes past the end
// (the output buffer has slack for that). Faster than a library call for the
// short runs of one output line.
inline unsigned char* copyRun(unsigned char* dst, const unsigned char* src, size_t n) {
  for (size_t i = 0; i < n; i += 16) std::memcpy(dst + i, src + i, 16);
  return dst + n;
}

#endif  // QUENBREL_OUTPUT_OUTPUT_H

// SPDX-License-Identifier: MIT
// The read loop the decoders share.
#include <cstring>

#include "input/source.h"

CompressedBytes::CompressedBytes(ByteSource& in, const unsigned char* head, size_t n, size_t cap)
    : in_(in), cap_(cap < n ? n : cap), head_(n), buf_(new unsigned char[cap_]) {
  std::memcpy(buf_.get(), head, n);
}

Decoder::Decoder(ByteSource& in, const unsigned char* head, size_t n, size_t cap, DataEnd end)
    : bytes_(in, head, n, cap), w_{bytes_.data(), bytes_.headSize(), nullptr, 0}, end_(end) {}

long Decoder::read(unsigned char* buf, size_t cap) {
  if (failed_) return -1;
  if (ended_) return 0;
  w_.out = buf;
  w_.outLeft = cap;
  while (w_.outLeft > 0) {
    // The library may hold decoded bytes of its own: input is only wanted
    // once a step stopped with room left in the output.
    if (w_.inLeft == 0 && needInput_ && !inputEnded_) {
      // Deliver what is there before waiting for more input.
      if (w_.outLeft < cap) break;
      long n = bytes_.refill();
      if (n < 0) {
        failed_ = true;
        break;
      }
      w_.in = bytes_.data();
      w_.inLeft = static_cast<size_t>(n);
      inputEnded_ = n == 0;
      if (inputEnded_ && end_ == DataEnd::kBetweenUnits) {
        // Data that stops inside a unit is cut short.
        (inUnit_ ? failed_ : ended_) = true;
        break;
      }
    }
    size_t room = w_.outLeft;
    Step step = this->step(w_, inputEnded_);
    // What a step delivers belongs to the unit it was in, also when the
    // unit ends (or fails) with it.
    if (w_.outLeft < room) lastUnit_ = unitsEnded_;
    if (step == Step::kFailed) {
      failed_ = true;
      break;
    }
    if (step == Step::kDataEnded) {
      ++unitsEnded_;
      ended_ = true;
      break;
    }
    inUnit_ = step != Step::kUnitEnded;
    needInput_ = !inUnit_ || w_.outLeft > 0;
    if (inUnit_) continue;
    ++unitsEnded_;
    // A read ends with the unit its bytes belong to: whether they have all
    // been checked is then known from the read alone.
    if (w_.outLeft < cap) break;
  }
  // Output decoded before a failure is delivered first; the failure
  // answers the next call.
  long got = static_cast<long>(cap - w_.outLeft);
  return (got == 0 && failed_) ? -1 : got;
}

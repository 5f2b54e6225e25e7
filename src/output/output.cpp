// SPDX-License-Identifier: MIT
// The engine's output buffer.
#include "output/output.h"

void Output::put(const void* p, size_t n) {
  const unsigned char* src = static_cast<const unsigned char*>(p);
  while (n > 0) {
    if (len_ == kCap) flush();
    size_t k = kCap - len_;
    if (k > n) k = n;
    std::memcpy(buf_ + len_, src, k);
    len_ += k;
    src += k;
    n -= k;
  }
}

void Output::flush() {
  if (len_ > 0 && !failed_ && !sink_->write(buf_, len_)) failed_ = true;
  len_ = 0;
}

bool Output::close(Ending ending) {
  flush();
  if (!sink_->finish(ending)) failed_ = true;
  return !failed_;
}

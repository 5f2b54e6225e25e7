// SPDX-License-Identifier: MIT
// The callback backend of the byte layer.
#include "common/bytes.h"

long CallbackSource::read(unsigned char* buf, size_t cap) {
  if (stopped_) return -1;
  return read_(buf, cap);
}

bool CallbackSink::write(const unsigned char* p, size_t n) {
  if (!failed_ && n > 0 && !write_(p, n)) failed_ = true;
  return !failed_;
}

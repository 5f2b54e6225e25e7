// SPDX-License-Identifier: MIT
// Reading the raw input stream.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "source.h"

long readRaw(FILE* F, unsigned char* buf, size_t cap) {
  int fd = fileno(F);
  if (fd < 0) {
    size_t n = std::fread(buf, 1, cap, F);
    return (n == 0 && std::ferror(F)) ? -1 : static_cast<long>(n);
  }
  for (;;) {
    ssize_t n = ::read(fd, buf, cap);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

CompressedBytes::CompressedBytes(FILE* F, const unsigned char* head, size_t n, size_t cap)
    : F_(F), cap_(cap < n ? n : cap), head_(n), buf_(new unsigned char[cap_]) {
  std::memcpy(buf_.get(), head, n);
}

// SPDX-License-Identifier: MIT
// The MD5 digest that a sequence dictionary gives each record (RFC 1321).
// Our own, so that every build writes dictionaries and no run pays for
// loading a crypto library it rarely needs.
#ifndef QUENBREL_OUTPUT_MD5_H
#define QUENBREL_OUTPUT_MD5_H

#include <cstddef>
#include <cstdint>

class Md5 {
 public:
  Md5() { restart(); }

  // Begins a new digest.
  void restart();
  // Adds `n` bytes to the digest.
  void update(const unsigned char* p, size_t n);
  // The digest of the bytes since restart(), in 32 lower-case hex digits
  // at `out` (no NUL after them).
  void hex(char* out);

 private:
  void compress(const unsigned char* block);

  uint32_t state_[4];
  uint64_t length_ = 0;  // bytes added since restart()
  unsigned char pending_[64];
  size_t pendingLen_ = 0;
};

#endif  // QUENBREL_OUTPUT_MD5_H

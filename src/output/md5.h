// SPDX-License-Identifier: MIT
// The MD5 digest that a sequence dictionary gives each record, from the
// crypto library (md5_openssl.cpp). Built without it, built() is false and
// the dictionary is refused before anything is written (md5_none.cpp).
#ifndef QUENBREL_OUTPUT_MD5_H
#define QUENBREL_OUTPUT_MD5_H

#include <cstddef>
#include <memory>
#include <string>

class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  // Whether MD5 was built in.
  static bool built();

  // Begins a new digest; false when the library failed.
  bool restart();
  // Adds `n` bytes to the digest; false when the library failed.
  bool update(const unsigned char* p, size_t n);
  // The digest of the bytes since restart(), in 32 lower-case hex digits;
  // empty when the library failed.
  std::string hex();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

#endif  // QUENBREL_OUTPUT_MD5_H

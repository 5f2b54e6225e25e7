// SPDX-License-Identifier: MIT
// The engine's input: the bytes of the bound stream, decompressed on the fly
// when the stream begins with the magic of a compressed format.
//
// The first read looks at the first bytes; plain input then keeps being read
// straight into the caller's buffer, so it never passes through a decoder.
#ifndef QUENBREL_INPUT_INPUT_H
#define QUENBREL_INPUT_INPUT_H

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "source.h"

class Input {
 public:
  // BGZF input is inflated on `threads` workers when there are two or more.
  explicit Input(FILE* F, int threads = 1) : F_(F), threads_(threads) {}

  // Fills `buf` with up to `cap` bytes of input. Returns the number of bytes
  // delivered, 0 at the clean end of input, -1 on a read error or damaged
  // compressed data (and on every call after one).
  long read(unsigned char* buf, size_t cap);

  // The message to report once read() has returned -1: what went wrong
  // when the decoder knows ("built without ..."), else the plain one.
  std::string message() const;

 private:
  long start(unsigned char* buf, size_t cap, long n);

  FILE* F_;
  int threads_;
  bool atStart_ = true;                   // nothing has been read yet
  std::unique_ptr<InputSource> decoder_;  // set when the input is compressed
};

#endif  // QUENBREL_INPUT_INPUT_H

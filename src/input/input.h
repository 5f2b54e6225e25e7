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
  explicit Input(FILE* F) : F_(F) {}

  // Fills `buf` with up to `cap` bytes of input. Returns the number of bytes
  // delivered, 0 at the clean end of input, -1 on a read error or damaged
  // compressed data (and on every call after one).
  long read(unsigned char* buf, size_t cap);

  // Closes the stream unless it is stdin, which stays open; nothing is read
  // after.
  void close();

  // The message to report once read() has returned -1: what went wrong
  // when the decoder knows ("built without ..."), else the plain one.
  std::string message() const;

 private:
  long start(unsigned char* buf, size_t cap, long n);

  FILE* F_;
  bool atStart_ = true;                   // nothing has been read yet
  std::unique_ptr<InputSource> decoder_;  // set when the input is compressed
};

#endif  // QUENBREL_INPUT_INPUT_H

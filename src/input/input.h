// SPDX-License-Identifier: MIT
// The engine's input: the bytes of the bound stream, block by block,
// decompressed on the fly when the stream begins with the magic of a
// compressed format.
//
// The first read looks at the first bytes; plain input then keeps being read
// straight into the block the engine converts, so it never passes through a
// decoder. A plain file is read ahead on a thread of its own where that
// pays; a pipe or terminal is read as it comes.
#ifndef QUENBREL_INPUT_INPUT_H
#define QUENBREL_INPUT_INPUT_H

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "input/read_ahead.h"
#include "input/source.h"

class Input {
 public:
  // The size of a block, and the room before each for a byte the caller
  // holds back from the block before.
  static constexpr size_t kBlock = size_t{128} * 1024;
  static constexpr size_t kHead = 1;

  // BGZF input is inflated on `threads` workers when there are two or more.
  explicit Input(FILE* F, int threads = 1);

  // The next block: sets `data` to its first byte and returns its size, 0
  // at the clean end of input, -1 on a read error or damaged compressed
  // data (and on every call after one). The block stays valid until the
  // next call, and data[-1] may be written. The first block holds at least
  // three bytes, unless the input is shorter, so that a byte-order mark
  // split over pipe reads is seen whole.
  long next(unsigned char*& data);

  // Whether the rest of the input reads to a clean end. Compressed input is
  // decoded to its end for this: bytes decoded from damaged data may be
  // delivered before the damage is found (the check value comes last), and
  // such made-up bytes must not pass for input in the wrong format. Plain
  // input is not read further.
  bool restReadsClean();

  // Closes the stream unless it is stdin, which stays open; nothing is read
  // after.
  void close();

  // The message to report once next() has returned -1: what went wrong
  // when the decoder knows ("built without ..."), else the plain one.
  std::string message() const;

 private:
  long start(unsigned char* buf);
  long read(unsigned char* buf, size_t cap);

  FILE* F_;
  int threads_;
  bool atStart_ = true;                   // nothing has been read yet
  std::unique_ptr<unsigned char[]> buf_;  // kHead + kBlock
  std::unique_ptr<InputSource> decoder_;  // set when the input is compressed
  std::unique_ptr<ReadAhead> ahead_;      // set when a plain file is read ahead
};

#endif  // QUENBREL_INPUT_INPUT_H

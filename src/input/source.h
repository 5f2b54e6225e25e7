// Sources of input bytes: the raw stream, and one decoder per compressed
// format, all with the same read shape.
#ifndef QUENBREL_INPUT_SOURCE_H
#define QUENBREL_INPUT_SOURCE_H

#include <cstddef>
#include <cstdio>

// Reads up to `cap` bytes of `F` into `buf`: straight from the descriptor
// when the stream has one (a pipe then delivers what it holds without
// waiting for a full block), else through the stream. Returns the number of
// bytes read, 0 at end of input, -1 on a read error.
long readRaw(FILE* F, unsigned char* buf, size_t cap);

// A decoder of one compressed format, reading its compressed bytes from a
// stream.
class InputSource {
 public:
  virtual ~InputSource() = default;

  // Fills `buf` with up to `cap` decoded bytes. Returns the number of bytes
  // delivered, 0 at the clean end of the data, -1 on a read error or
  // damaged data (and on every call after one).
  virtual long read(unsigned char* buf, size_t cap) = 0;
};

#endif  // QUENBREL_INPUT_SOURCE_H

// Raw input reading, and on-the-fly decompression of gzip input.
//
// The engine reads its first block plainly; only when that block begins
// with the gzip magic does it hand the input over to a GzSource, so plain
// input never goes through the decompressor.
#ifndef QUENBREL_GZSOURCE_H
#define QUENBREL_GZSOURCE_H

#include <cstddef>
#include <cstdio>
#include <memory>

// Reads up to `cap` bytes of `F` into `buf`: straight from the descriptor
// when the stream has one (a pipe then delivers what it holds without
// waiting for a full block), else through the stream. Returns the number of
// bytes read, 0 at end of input, -1 on a read error.
long readRaw(FILE* F, unsigned char* buf, size_t cap);

// Whether the `n` bytes at `p` begin with the gzip magic 1f 8b.
bool hasGzipMagic(const unsigned char* p, size_t n);

// Decompresses the gzip members read from `F`, one after another, so that
// concatenated files are read whole. Any damage (a bad header, corrupt
// data, a wrong check value or length, a stream that ends inside a member,
// or bytes after the last member that do not form a further member) is a
// read error.
class GzSource {
 public:
  // `head` holds the `n` bytes already read from `F`; they are copied, so
  // the caller may reuse that buffer as the destination of read(). `cap` is
  // the size of the compressed-input buffer (at least `n`).
  GzSource(FILE* F, const unsigned char* head, size_t n, size_t cap);
  ~GzSource();
  GzSource(const GzSource&) = delete;
  GzSource& operator=(const GzSource&) = delete;

  // Fills `buf` with up to `cap` decompressed bytes. Returns the number of
  // bytes delivered, 0 at the clean end of the last member, -1 on a read or
  // decompression error (and on every call after one).
  long read(unsigned char* buf, size_t cap);

 private:
  struct Stream;
  long fail();

  FILE* F_;
  size_t cap_;
  std::unique_ptr<unsigned char[]> in_;
  std::unique_ptr<Stream> z_;
  bool inMember_ = true;  // a member has begun and not yet ended
  bool failed_ = false;
  bool ended_ = false;
};

#endif  // QUENBREL_GZSOURCE_H

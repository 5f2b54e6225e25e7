// gzip decoding: members one after another, each checked.
#ifndef QUENBREL_INPUT_GZIP_H
#define QUENBREL_INPUT_GZIP_H

#include <cstddef>
#include <cstdio>
#include <memory>

#include "source.h"

// Whether the `n` bytes at `p` begin with the gzip magic 1f 8b.
bool hasGzipMagic(const unsigned char* p, size_t n);

// A decoder of the gzip members read from `F`, one after another, so that
// concatenated files are read whole. Any damage (a bad header, corrupt data,
// a wrong check value or length, a stream that ends inside a member, or
// bytes after the last member that do not form a further member) is a read
// error. `head` holds the `n` bytes already read from `F`; they are copied.
// `cap` is the size of the compressed-input buffer (at least `n`).
std::unique_ptr<InputSource> openGzip(FILE* F, const unsigned char* head, size_t n, size_t cap);

#endif  // QUENBREL_INPUT_GZIP_H

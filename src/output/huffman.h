// SPDX-License-Identifier: MIT
// The fastest BGZF level: sequence text coded with Huffman codes alone.
//
// Residue text is a few letters in no order a 32 KiB window can exploit:
// what shrinks it is coding each letter in about two bits, and string
// matching costs time and, at low effort, even size. So a member of such
// text is one dynamic Huffman block of literals, with long runs of one
// byte (runs of N, gap runs) coded as matches at distance one. Text that
// codes poorly this way (long headers, protein) is left to the deflate
// library.
#ifndef QUENBREL_OUTPUT_HUFFMAN_H
#define QUENBREL_OUTPUT_HUFFMAN_H

#include <cstddef>
#include <cstdint>
#include <memory>

// A run of one byte: where it starts and how long it is.
struct ByteRun {
  size_t at;
  size_t length;
};

class SequenceDeflater {
 public:
  SequenceDeflater();

  // Writes `n` (at most 65535) bytes of `in` as raw deflate data into
  // `out`, at most `cap` bytes. Returns the size written, or 0 when the
  // text is not sequence-like enough or the result would not fit: the
  // caller then deflates it another way.
  size_t deflate(const unsigned char* in, size_t n, unsigned char* out, size_t cap);

 private:
  std::unique_ptr<ByteRun[]> runs_;  // the long runs of one byte of a member
};

#endif  // QUENBREL_OUTPUT_HUFFMAN_H

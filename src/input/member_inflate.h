// SPDX-License-Identifier: MIT
// Inflating one BGZF member's deflate data whole, on a worker: one backend
// per library, the fastest built in (member_inflate_isal.cpp, then
// member_inflate_libdeflate.cpp, else member_inflate_zlib.cpp; CMake builds
// exactly one).
#ifndef QUENBREL_INPUT_MEMBER_INFLATE_H
#define QUENBREL_INPUT_MEMBER_INFLATE_H

#include <cstddef>
#include <cstdint>
#include <memory>

class MemberInflater {
 public:
  virtual ~MemberInflater() = default;

  // Inflates the `dataLen` bytes of raw deflate data at `data` into `out`.
  // True only when they are one whole deflate stream that uses every byte
  // (bytes before the trailer that it leaves unread are damage), makes
  // exactly `length` bytes, and whose CRC-32 is `crc`.
  virtual bool inflate(const unsigned char* data, size_t dataLen, unsigned char* out,
                       uint32_t length, uint32_t crc) = 0;
};

std::unique_ptr<MemberInflater> makeMemberInflater();

#endif  // QUENBREL_INPUT_MEMBER_INFLATE_H

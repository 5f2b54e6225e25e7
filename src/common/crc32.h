// SPDX-License-Identifier: MIT
// CRC-32 of the gzip trailer, for the builds that have no library to ask.
#ifndef QUENBREL_COMMON_CRC32_H
#define QUENBREL_COMMON_CRC32_H

#include <cstddef>
#include <cstdint>

// The CRC-32 of the bytes whose CRC is `crc`, followed by the `n` bytes at
// `p` (0 for none yet), as zlib's crc32() gives it.
uint32_t crc32Update(uint32_t crc, const unsigned char* p, size_t n);

#endif  // QUENBREL_COMMON_CRC32_H

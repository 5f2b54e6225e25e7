// SPDX-License-Identifier: MIT
// Memory as the engine's input and output, through the byte layer's
// callback backend, as a host program hands over its own buffers.
#ifndef QUENBREL_TESTS_MEMORY_BYTES_H
#define QUENBREL_TESTS_MEMORY_BYTES_H

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "common/bytes.h"

namespace testutil {

// Reads `bytes` (which must outlive the source), at most `piece` bytes a
// read when `piece` is not 0.
inline std::unique_ptr<ByteSource> memorySource(std::string_view bytes, size_t piece = 0) {
  auto at = std::make_shared<size_t>(0);
  return std::make_unique<CallbackSource>([bytes, piece, at](unsigned char* buf, size_t cap) {
    size_t n = std::min(cap, bytes.size() - *at);
    if (piece > 0) n = std::min(n, piece);
    std::memcpy(buf, bytes.data() + *at, n);
    *at += n;
    return static_cast<long>(n);
  });
}

// Appends what is written to `out`, which must outlive the sink.
inline std::unique_ptr<Sink> memorySink(std::string& out) {
  return std::make_unique<CallbackSink>([&out](const unsigned char* p, size_t n) {
    out.append(reinterpret_cast<const char*>(p), n);
    return true;
  });
}

}  // namespace testutil

#endif  // QUENBREL_TESTS_MEMORY_BYTES_H

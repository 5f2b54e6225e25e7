// SPDX-License-Identifier: MIT
// BGZF members through libdeflate, which compresses a whole buffer at once:
// faster than zlib's streaming deflate at every level, and a member is
// always a whole buffer.
#include <libdeflate.h>

#include "output/bgzf.h"

namespace {

class LibdeflateDeflater : public MemberDeflater {
 public:
  explicit LibdeflateDeflater(int level) : c_(libdeflate_alloc_compressor(level)) {}
  ~LibdeflateDeflater() override { libdeflate_free_compressor(c_); }
  LibdeflateDeflater(const LibdeflateDeflater&) = delete;
  LibdeflateDeflater& operator=(const LibdeflateDeflater&) = delete;

  bool ready() const override { return c_ != nullptr; }

  size_t deflate(const unsigned char* in, size_t n, unsigned char* out, size_t cap) override {
    return libdeflate_deflate_compress(c_, in, n, out, cap);
  }

  uint32_t crc32(const unsigned char* in, size_t n) const override {
    return libdeflate_crc32(0, in, n);
  }

 private:
  libdeflate_compressor* c_;
};

}  // namespace

std::unique_ptr<MemberDeflater> libdeflateDeflater(int level) {
  return std::make_unique<LibdeflateDeflater>(level);
}

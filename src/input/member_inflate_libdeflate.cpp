// SPDX-License-Identifier: MIT
// BGZF members through libdeflate's whole-buffer inflate.
#include <libdeflate.h>

#include "input/member_inflate.h"

namespace {

class LibdeflateInflater : public MemberInflater {
 public:
  LibdeflateInflater() : d_(libdeflate_alloc_decompressor()) {}
  ~LibdeflateInflater() override { libdeflate_free_decompressor(d_); }
  LibdeflateInflater(const LibdeflateInflater&) = delete;
  LibdeflateInflater& operator=(const LibdeflateInflater&) = delete;

  bool inflate(const unsigned char* data, size_t dataLen, unsigned char* out, uint32_t length,
               uint32_t crc) override {
    if (d_ == nullptr) return false;
    size_t used = 0, produced = 0;
    if (libdeflate_deflate_decompress_ex(d_, data, dataLen, out, length, &used, &produced) !=
            LIBDEFLATE_SUCCESS ||
        used != dataLen || produced != length)
      return false;
    return libdeflate_crc32(0, out, length) == crc;
  }

 private:
  libdeflate_decompressor* d_;
};

}  // namespace

std::unique_ptr<MemberInflater> makeMemberInflater() {
  return std::make_unique<LibdeflateInflater>();
}

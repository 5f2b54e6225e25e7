// SPDX-License-Identifier: MIT
// BGZF members through zlib, which always works.
#include <zlib.h>

#include "output/bgzf.h"

namespace {

// zlib's raw deflate; the stream is reset between members, so that each
// one stands alone. zlib's levels stop at 9.
class ZlibDeflater : public MemberDeflater {
 public:
  explicit ZlibDeflater(int level) {
    ok_ = deflateInit2(&z_, level > 9 ? 9 : level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~ZlibDeflater() override {
    if (ok_) deflateEnd(&z_);
  }
  ZlibDeflater(const ZlibDeflater&) = delete;
  ZlibDeflater& operator=(const ZlibDeflater&) = delete;

  bool ready() const override { return ok_; }

  size_t deflate(const unsigned char* in, size_t n, unsigned char* out, size_t cap) override {
    if (deflateReset(&z_) != Z_OK) return 0;
    z_.next_in = const_cast<unsigned char*>(in);
    z_.avail_in = static_cast<uInt>(n);
    z_.next_out = out;
    z_.avail_out = static_cast<uInt>(cap);
    if (::deflate(&z_, Z_FINISH) != Z_STREAM_END) return 0;
    return cap - z_.avail_out;
  }

  uint32_t crc32(const unsigned char* in, size_t n) const override {
    return static_cast<uint32_t>(::crc32(0L, in, static_cast<uInt>(n)));
  }

 private:
  z_stream z_{};
  bool ok_ = false;
};

}  // namespace

std::unique_ptr<MemberDeflater> zlibDeflater(int level) {
  return std::make_unique<ZlibDeflater>(level);
}

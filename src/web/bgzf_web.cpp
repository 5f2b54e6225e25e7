// SPDX-License-Identifier: MIT
// BGZF members in the page: the sequence coder of huffman.cpp as in every
// build, and, for text it declines and at the other levels, the deflate of
// the JavaScript port of zlib, which writes the bytes zlib writes.
#include <array>

#include "output/bgzf.h"
#include "web/zlib_port.h"

namespace {

// CRC-32 (the gzip polynomial), a byte at a time from a table built once.
class Crc32Table {
 public:
  Crc32Table() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
      table_[i] = c;
    }
  }
  uint32_t crc(const unsigned char* p, size_t n) const {
    uint32_t c = 0xffffffffu;
    for (size_t i = 0; i < n; ++i) c = table_[(c ^ p[i]) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
  }

 private:
  std::array<uint32_t, 256> table_{};
};

class WebDeflater : public MemberDeflater {
 public:
  // zlib's levels stop at 9, as in bgzf_zlib.cpp.
  explicit WebDeflater(int level) : handle_(quenbrelDeflateOpen(level > 9 ? 9 : level)) {}
  ~WebDeflater() override {
    if (handle_ != 0) quenbrelDeflateClose(handle_);
  }
  WebDeflater(const WebDeflater&) = delete;
  WebDeflater& operator=(const WebDeflater&) = delete;

  bool ready() const override { return handle_ != 0; }

  size_t deflate(const unsigned char* in, size_t n, unsigned char* out, size_t cap) override {
    return quenbrelDeflateMember(handle_, in, static_cast<uint32_t>(n), out,
                                 static_cast<uint32_t>(cap));
  }

  uint32_t crc32(const unsigned char* in, size_t n) const override { return table_.crc(in, n); }

 private:
  int handle_;
  Crc32Table table_;
};

}  // namespace

// The page's build has no zlib: this backend takes the place of zlib's.
std::unique_ptr<MemberDeflater> zlibDeflater(int level) {
  return std::make_unique<WebDeflater>(level);
}

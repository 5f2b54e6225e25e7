// SPDX-License-Identifier: MIT
// BGZF members in the page: the sequence coder of huffman.cpp as in every
// build, and, for text it declines and at the other levels, the deflate of
// the JavaScript port of zlib, which writes the bytes zlib writes.
#include "common/crc32.h"
#include "output/bgzf.h"
#include "web/zlib_port.h"

namespace {

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

  uint32_t crc32(const unsigned char* in, size_t n) const override { return crc32Update(0, in, n); }

 private:
  int handle_;
};

}  // namespace

// The page's build has no zlib: this backend takes the place of zlib's.
std::unique_ptr<MemberDeflater> zlibDeflater(int level) {
  return std::make_unique<WebDeflater>(level);
}

// SPDX-License-Identifier: MIT
// BGZF members through zlib's inflate, which always works.
#include <zlib.h>

#include "input/member_inflate.h"

namespace {

class ZlibInflater : public MemberInflater {
 public:
  ZlibInflater() { ready_ = inflateInit2(&z_, -15) == Z_OK; }
  ~ZlibInflater() override {
    if (ready_) inflateEnd(&z_);
  }
  ZlibInflater(const ZlibInflater&) = delete;
  ZlibInflater& operator=(const ZlibInflater&) = delete;

  bool inflate(const unsigned char* data, size_t dataLen, unsigned char* out, uint32_t length,
               uint32_t crc) override {
    if (!ready_ || inflateReset(&z_) != Z_OK) return false;
    z_.next_in = const_cast<unsigned char*>(data);
    z_.avail_in = static_cast<uInt>(dataLen);
    z_.next_out = out;
    z_.avail_out = length;
    if (::inflate(&z_, Z_FINISH) != Z_STREAM_END || z_.avail_in != 0 || z_.avail_out != 0)
      return false;
    return static_cast<uint32_t>(crc32(0L, out, length)) == crc;
  }

 private:
  z_stream z_{};
  bool ready_ = false;
};

}  // namespace

std::unique_ptr<MemberInflater> makeMemberInflater() { return std::make_unique<ZlibInflater>(); }

// SPDX-License-Identifier: MIT
// gzip decoding through zlib.
#include <zlib.h>

#include <cstring>

#include "decoders.h"

namespace {

// zlib takes its sizes as uInt; blocks are far smaller, but say so.
uInt asUInt(size_t n) { return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uInt>(n); }

class ZlibSource : public InputSource {
 public:
  ZlibSource(FILE* F, const unsigned char* head, size_t n, size_t cap) : in_(F, head, n, cap) {
    std::memset(&z_, 0, sizeof z_);
    // 16 + 15: a gzip wrapper only (anything else is damage), the full window.
    ready_ = inflateInit2(&z_, 16 + MAX_WBITS) == Z_OK;
    z_.next_in = in_.data();
    z_.avail_in = asUInt(in_.headSize());
    failed_ = !ready_;
  }
  ~ZlibSource() override {
    if (ready_) inflateEnd(&z_);
  }
  ZlibSource(const ZlibSource&) = delete;
  ZlibSource& operator=(const ZlibSource&) = delete;

  long read(unsigned char* buf, size_t cap) override;

 private:
  long fail() {
    failed_ = true;
    return -1;
  }

  CompressedBytes in_;
  z_stream z_;
  bool ready_ = false;
  bool inMember_ = true;  // a member has begun and not yet ended
  bool failed_ = false;
  bool ended_ = false;
};

long ZlibSource::read(unsigned char* buf, size_t cap) {
  if (failed_) return -1;
  if (ended_) return 0;
  z_.next_out = buf;
  z_.avail_out = asUInt(cap);
  while (z_.avail_out > 0) {
    if (z_.avail_in == 0) {
      // Deliver what is there before waiting for more input.
      if (z_.avail_out < cap) break;
      long n = in_.refill();
      if (n < 0) {
        fail();
        break;
      }
      if (n == 0) {
        if (inMember_) {  // the input stops inside a member
          fail();
          break;
        }
        ended_ = true;
        break;
      }
      z_.next_in = in_.data();
      z_.avail_in = static_cast<uInt>(n);
    }
    inMember_ = true;
    int rc = inflate(&z_, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      // A member ended, its check value and length verified; whatever
      // follows must be a further member.
      inMember_ = false;
      if (inflateReset(&z_) != Z_OK) {
        fail();
        break;
      }
      continue;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) {
      fail();
      break;
    }
  }
  // Output decoded before a failure is delivered first; the failure
  // answers the next call.
  long got = static_cast<long>(cap - z_.avail_out);
  return (got == 0 && failed_) ? -1 : got;
}

}  // namespace

std::unique_ptr<InputSource> openGzipZlib(FILE* F, const unsigned char* head, size_t n,
                                          size_t cap) {
  return std::unique_ptr<InputSource>(new ZlibSource(F, head, n, cap));
}

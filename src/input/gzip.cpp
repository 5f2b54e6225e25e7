// gzip decoding through zlib.
#include "gzip.h"

#include <zlib.h>

#include <cstring>

bool hasGzipMagic(const unsigned char* p, size_t n) {
  return n >= 2 && p[0] == 0x1f && p[1] == 0x8b;
}

namespace {

// zlib takes its sizes as uInt; blocks are far smaller, but say so.
uInt asUInt(size_t n) { return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uInt>(n); }

class GzipSource : public InputSource {
 public:
  GzipSource(FILE* F, const unsigned char* head, size_t n, size_t cap)
      : F_(F), cap_(cap < n ? n : cap), in_(new unsigned char[cap_]) {
    std::memcpy(in_.get(), head, n);
    std::memset(&z_, 0, sizeof z_);
    // 16 + 15: a gzip wrapper only (anything else is damage), the full window.
    ready_ = inflateInit2(&z_, 16 + MAX_WBITS) == Z_OK;
    z_.next_in = in_.get();
    z_.avail_in = asUInt(n);
    failed_ = !ready_;
  }
  ~GzipSource() override {
    if (ready_) inflateEnd(&z_);
  }
  GzipSource(const GzipSource&) = delete;
  GzipSource& operator=(const GzipSource&) = delete;

  long read(unsigned char* buf, size_t cap) override;

 private:
  long fail() {
    failed_ = true;
    return -1;
  }

  FILE* F_;
  size_t cap_;
  std::unique_ptr<unsigned char[]> in_;
  z_stream z_;
  bool ready_ = false;
  bool inMember_ = true;  // a member has begun and not yet ended
  bool failed_ = false;
  bool ended_ = false;
};

long GzipSource::read(unsigned char* buf, size_t cap) {
  if (failed_) return -1;
  if (ended_) return 0;
  z_.next_out = buf;
  z_.avail_out = asUInt(cap);
  while (z_.avail_out > 0) {
    if (z_.avail_in == 0) {
      // Deliver what is there before waiting for more input.
      if (z_.avail_out < cap) break;
      long n = readRaw(F_, in_.get(), cap_);
      if (n < 0) return fail();
      if (n == 0) {
        if (inMember_) return fail();  // the stream stops inside a member
        ended_ = true;
        break;
      }
      z_.next_in = in_.get();
      z_.avail_in = static_cast<uInt>(n);
    }
    inMember_ = true;
    int rc = inflate(&z_, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      // A member ended, its check value and length verified; whatever
      // follows must be a further member.
      inMember_ = false;
      if (inflateReset(&z_) != Z_OK) return fail();
      continue;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) return fail();
  }
  return static_cast<long>(cap - z_.avail_out);
}

}  // namespace

std::unique_ptr<InputSource> openGzip(FILE* F, const unsigned char* head, size_t n, size_t cap) {
  return std::unique_ptr<InputSource>(new GzipSource(F, head, n, cap));
}

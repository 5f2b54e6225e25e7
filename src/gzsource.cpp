// Raw input reading, and on-the-fly decompression of gzip input.
#include "gzsource.h"

#include <unistd.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>

long readRaw(FILE* F, unsigned char* buf, size_t cap) {
  int fd = fileno(F);
  if (fd < 0) {
    size_t n = std::fread(buf, 1, cap, F);
    return (n == 0 && std::ferror(F)) ? -1 : static_cast<long>(n);
  }
  for (;;) {
    ssize_t n = ::read(fd, buf, cap);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

bool hasGzipMagic(const unsigned char* p, size_t n) {
  return n >= 2 && p[0] == 0x1f && p[1] == 0x8b;
}

// Kept out of the header so that only this file sees zlib.
struct GzSource::Stream {
  z_stream z;
  bool ready = false;
};

namespace {

// zlib takes its sizes as uInt; blocks are far smaller, but say so.
uInt asUInt(size_t n) { return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uInt>(n); }

}  // namespace

GzSource::GzSource(FILE* F, const unsigned char* head, size_t n, size_t cap)
    : F_(F), cap_(cap < n ? n : cap), in_(new unsigned char[cap_]), z_(new Stream) {
  std::memcpy(in_.get(), head, n);
  std::memset(&z_->z, 0, sizeof z_->z);
  // 16 + 15: a gzip wrapper only (anything else is damage), the full window.
  z_->ready = inflateInit2(&z_->z, 16 + MAX_WBITS) == Z_OK;
  z_->z.next_in = in_.get();
  z_->z.avail_in = asUInt(n);
  failed_ = !z_->ready;
}

GzSource::~GzSource() {
  if (z_->ready) inflateEnd(&z_->z);
}

long GzSource::fail() {
  failed_ = true;
  return -1;
}

long GzSource::read(unsigned char* buf, size_t cap) {
  if (failed_) return -1;
  if (ended_) return 0;
  z_stream& z = z_->z;
  z.next_out = buf;
  z.avail_out = asUInt(cap);
  while (z.avail_out > 0) {
    if (z.avail_in == 0) {
      // Deliver what is there before waiting for more input.
      if (z.avail_out < cap) break;
      long n = readRaw(F_, in_.get(), cap_);
      if (n < 0) return fail();
      if (n == 0) {
        if (inMember_) return fail();  // the stream stops inside a member
        ended_ = true;
        break;
      }
      z.next_in = in_.get();
      z.avail_in = static_cast<uInt>(n);
    }
    inMember_ = true;
    int rc = inflate(&z, Z_NO_FLUSH);
    if (rc == Z_STREAM_END) {
      // A member ended, its check value and length verified; whatever
      // follows must be a further member.
      inMember_ = false;
      if (inflateReset(&z) != Z_OK) return fail();
      continue;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR) return fail();
  }
  return static_cast<long>(cap - z.avail_out);
}

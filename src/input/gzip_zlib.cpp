// SPDX-License-Identifier: MIT
// gzip decoding through zlib.
#include <zlib.h>

#include <cstring>

#include "input/decoders.h"

namespace {

class ZlibSource : public Decoder {
 public:
  ZlibSource(ByteSource& in, const unsigned char* head, size_t n, size_t cap)
      : Decoder(in, head, n, cap, DataEnd::kBetweenUnits) {
    std::memset(&z_, 0, sizeof z_);
    // 16 + 15: a gzip wrapper only (anything else is damage), the full window.
    ready_ = inflateInit2(&z_, 16 + MAX_WBITS) == Z_OK;
  }
  ~ZlibSource() override {
    if (ready_) inflateEnd(&z_);
  }

 private:
  Step step(Window& w, bool inputEnded) override;

  z_stream z_;
  bool ready_ = false;
};

Decoder::Step ZlibSource::step(Window& w, bool /*inputEnded*/) {
  if (!ready_) return Step::kFailed;
  z_.next_in = w.in;
  z_.avail_in = count32(w.inLeft);
  z_.next_out = w.out;
  z_.avail_out = count32(w.outLeft);
  int rc = inflate(&z_, Z_NO_FLUSH);
  w.used(static_cast<size_t>(z_.next_in - w.in), static_cast<size_t>(z_.next_out - w.out));
  if (rc == Z_STREAM_END) {
    // The member's check value and length were verified.
    return inflateReset(&z_) == Z_OK ? Step::kUnitEnded : Step::kFailed;
  }
  return (rc == Z_OK || rc == Z_BUF_ERROR) ? Step::kGoing : Step::kFailed;
}

}  // namespace

std::unique_ptr<InputSource> openGzipZlib(ByteSource& in, const unsigned char* head, size_t n,
                                          size_t cap) {
  return std::make_unique<ZlibSource>(in, head, n, cap);
}

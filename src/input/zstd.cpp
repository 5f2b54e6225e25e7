// SPDX-License-Identifier: MIT
// zstd decoding: frames one after another, skippable frames skipped.
#include <zstd.h>
#include <zstd_errors.h>

#include "decoders.h"

namespace {

class ZstdSource : public InputSource {
 public:
  ZstdSource(FILE* F, const unsigned char* head, size_t n, size_t cap)
      : in_(F, head, n, cap), d_(ZSTD_createDStream()), src_{in_.data(), in_.headSize(), 0} {
    // The library's default window limit (128 MiB) stays: a frame that
    // asks for more is refused rather than trusted with the memory.
    failed_ = d_ == nullptr;
  }
  ~ZstdSource() override { ZSTD_freeDStream(d_); }
  ZstdSource(const ZstdSource&) = delete;
  ZstdSource& operator=(const ZstdSource&) = delete;

  long read(unsigned char* buf, size_t cap) override;
  std::string message() const override { return message_; }

 private:
  long fail(size_t rc);

  CompressedBytes in_;
  ZSTD_DStream* d_;
  ZSTD_inBuffer src_;
  std::string message_ = kReadFailedMessage;
  bool inFrame_ = true;     // a frame has begun and not yet ended
  bool needInput_ = false;  // the last call stopped for want of input
  bool failed_ = false;
  bool ended_ = false;
};

long ZstdSource::fail(size_t rc) {
  if (ZSTD_getErrorCode(rc) == ZSTD_error_frameParameter_windowTooLarge)
    message_ = "The zstd input needs a window larger than the 128 MiB limit.\n";
  failed_ = true;
  return -1;
}

long ZstdSource::read(unsigned char* buf, size_t cap) {
  if (failed_) return -1;
  if (ended_) return 0;
  ZSTD_outBuffer dst{buf, cap, 0};
  while (dst.pos < dst.size) {
    // The decoder may hold output of its own: input is only wanted once a
    // call stopped with room left in the output.
    if (src_.pos == src_.size && needInput_) {
      // Deliver what is there before waiting for more input.
      if (dst.pos > 0) break;
      long n = in_.refill();
      if (n < 0) {
        fail(0);
        break;
      }
      if (n == 0) {
        if (inFrame_) {  // the input stops inside a frame
          fail(0);
          break;
        }
        ended_ = true;
        break;
      }
      src_ = ZSTD_inBuffer{in_.data(), static_cast<size_t>(n), 0};
    }
    size_t rc = ZSTD_decompressStream(d_, &dst, &src_);
    if (ZSTD_isError(rc)) {
      fail(rc);
      break;
    }
    // 0: a frame ended, its checksum (when it has one) verified; whatever
    // follows must be a further frame.
    inFrame_ = rc != 0;
    needInput_ = dst.pos < dst.size;
  }
  // Output decoded before a failure is delivered first; the failure
  // answers the next call.
  long got = static_cast<long>(dst.pos);
  return (got == 0 && failed_) ? -1 : got;
}

}  // namespace

std::unique_ptr<InputSource> openZstd(FILE* F, const unsigned char* head, size_t n, size_t cap) {
  return std::unique_ptr<InputSource>(new ZstdSource(F, head, n, cap));
}

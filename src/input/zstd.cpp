// SPDX-License-Identifier: MIT
// zstd decoding: frames one after another, skippable frames skipped.
#include <zstd.h>
#include <zstd_errors.h>

#include "input/decoders.h"

namespace {

class ZstdSource : public Decoder {
 public:
  // The library's default window limit (128 MiB) stays: a frame that asks
  // for more is refused rather than trusted with the memory.
  ZstdSource(ByteSource& in, const unsigned char* head, size_t n, size_t cap)
      : Decoder(in, head, n, cap, DataEnd::kBetweenUnits), d_(ZSTD_createDStream()) {}
  ~ZstdSource() override { ZSTD_freeDStream(d_); }

 private:
  Step step(Window& w, bool inputEnded) override;

  ZSTD_DStream* d_;
};

Decoder::Step ZstdSource::step(Window& w, bool /*inputEnded*/) {
  if (d_ == nullptr) return Step::kFailed;
  ZSTD_inBuffer src{w.in, w.inLeft, 0};
  ZSTD_outBuffer dst{w.out, w.outLeft, 0};
  size_t rc = ZSTD_decompressStream(d_, &dst, &src);
  w.used(src.pos, dst.pos);
  if (ZSTD_isError(rc)) {
    if (ZSTD_getErrorCode(rc) == ZSTD_error_frameParameter_windowTooLarge)
      setMessage("The zstd input needs a window larger than the 128 MiB limit.\n");
    return Step::kFailed;
  }
  // 0: a frame ended, its checksum (when it has one) verified.
  return rc == 0 ? Step::kUnitEnded : Step::kGoing;
}

}  // namespace

std::unique_ptr<InputSource> openZstd(ByteSource& in, const unsigned char* head, size_t n,
                                      size_t cap) {
  return std::make_unique<ZstdSource>(in, head, n, cap);
}

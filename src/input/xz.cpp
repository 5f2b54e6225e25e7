// SPDX-License-Identifier: MIT
// xz decoding: concatenated streams with their padding.
#include <lzma.h>

#include <string>

#include "input/decoders.h"

namespace {

class XzSource : public Decoder {
 public:
  // Told that the input is finished, the library checks that the last
  // stream is complete and its padding whole: it sees the end itself.
  XzSource(ByteSource& in, const unsigned char* head, size_t n, size_t cap)
      : Decoder(in, head, n, cap, DataEnd::kFormatSays), s_(LZMA_STREAM_INIT) {
    ready_ = lzma_stream_decoder(&s_, kXzMemoryLimit, LZMA_CONCATENATED) == LZMA_OK;
  }
  ~XzSource() override { lzma_end(&s_); }

 private:
  Step step(Window& w, bool inputEnded) override;

  lzma_stream s_;
  bool ready_ = false;
};

Decoder::Step XzSource::step(Window& w, bool inputEnded) {
  if (!ready_) return Step::kFailed;
  s_.next_in = w.in;
  s_.avail_in = w.inLeft;
  s_.next_out = w.out;
  s_.avail_out = w.outLeft;
  lzma_ret rc = lzma_code(&s_, inputEnded ? LZMA_FINISH : LZMA_RUN);
  w.used(w.inLeft - s_.avail_in, w.outLeft - s_.avail_out);
  if (rc == LZMA_STREAM_END) return Step::kDataEnded;
  if (rc == LZMA_OK) return Step::kGoing;
  if (rc == LZMA_MEMLIMIT_ERROR) {
    const unsigned long long mib = 1 << 20;
    setMessage("The xz input needs " + std::to_string((lzma_memusage(&s_) + mib - 1) / mib) +
               " MiB of memory to decompress, more than the " +
               std::to_string(kXzMemoryLimit / mib) + " MiB limit.\n");
  }
  return Step::kFailed;
}

}  // namespace

std::unique_ptr<InputSource> openXz(ByteSource& in, const unsigned char* head, size_t n,
                                    size_t cap) {
  return std::make_unique<XzSource>(in, head, n, cap);
}

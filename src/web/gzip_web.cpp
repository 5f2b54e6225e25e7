// SPDX-License-Identifier: MIT
// gzip input in the page: the decoder of gzip_zlib.cpp, step for step, with
// the JavaScript port of zlib doing the inflating.
#include "input/decoders.h"
#include "web/zlib_port.h"

namespace {

class WebGzipSource : public Decoder {
 public:
  WebGzipSource(FILE* F, const unsigned char* head, size_t n, size_t cap)
      : Decoder(F, head, n, cap, DataEnd::kBetweenUnits), handle_(quenbrelInflateOpen()) {}
  ~WebGzipSource() override {
    if (handle_ != 0) quenbrelInflateClose(handle_);
  }

 private:
  Step step(Window& w, bool inputEnded) override;

  int handle_;
};

Decoder::Step WebGzipSource::step(Window& w, bool /*inputEnded*/) {
  if (handle_ == 0) return Step::kFailed;
  uint32_t used[2] = {0, 0};
  int rc = quenbrelInflateStep(handle_, w.in, count32(w.inLeft), w.out, count32(w.outLeft), used);
  w.used(used[0], used[1]);
  if (rc == kInflateMemberEnded) return Step::kUnitEnded;
  return rc == kInflateGoing ? Step::kGoing : Step::kFailed;
}

}  // namespace

// The page's build has no zlib: its gzip decoder takes the place of zlib's
// in the table of input formats.
std::unique_ptr<InputSource> openGzipZlib(FILE* F, const unsigned char* head, size_t n,
                                          size_t cap) {
  return std::make_unique<WebGzipSource>(F, head, n, cap);
}

// One thread: BGZF input is read by the gzip decoder like any gzip, member
// after member, and never handed to workers.
bool looksLikeBgzf(const unsigned char*, size_t) { return false; }
std::unique_ptr<InputSource> openBgzf(FILE*, const unsigned char*, size_t, int, DecoderOpener) {
  return nullptr;
}

// SPDX-License-Identifier: MIT
// gzip input in the page: the decoder of gzip_zlib.cpp, step for step, with
// the inflater of gzip_inflater.cpp in zlib's place.
#include "input/decoders.h"
#include "input/gzip_inflater.h"

namespace {

class WebGzipSource : public Decoder {
 public:
  WebGzipSource(ByteSource& in, const unsigned char* head, size_t n, size_t cap)
      : Decoder(in, head, n, cap, DataEnd::kBetweenUnits) {}

 private:
  Step step(Window& w, bool /*inputEnded*/) override {
    size_t inUsed = 0, outUsed = 0;
    GzipInflater::Result r = inflater_.step(w.in, w.inLeft, w.out, w.outLeft, inUsed, outUsed);
    w.used(inUsed, outUsed);
    if (r == GzipInflater::Result::kMemberEnded) return Step::kUnitEnded;
    return r == GzipInflater::Result::kGoing ? Step::kGoing : Step::kFailed;
  }

  GzipInflater inflater_;
};

}  // namespace

// The page's build has no zlib: its gzip decoder takes the place of zlib's
// in the table of input formats.
std::unique_ptr<InputSource> openGzipZlib(ByteSource& in, const unsigned char* head, size_t n,
                                          size_t cap) {
  return std::make_unique<WebGzipSource>(in, head, n, cap);
}

// One thread: BGZF input is read by the gzip decoder like any gzip, member
// after member, and never handed to workers.
bool looksLikeBgzf(const unsigned char*, size_t) { return false; }
std::unique_ptr<InputSource> openBgzf(ByteSource&, const unsigned char*, size_t, int,
                                      DecoderOpener) {
  return nullptr;
}

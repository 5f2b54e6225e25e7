// SPDX-License-Identifier: MIT
// bzip2 decoding: streams one after another.
#include <bzlib.h>

#include <cstring>

#include "input/decoders.h"

namespace {

class Bzip2Source : public Decoder {
 public:
  Bzip2Source(ByteSource& in, const unsigned char* head, size_t n, size_t cap)
      : Decoder(in, head, n, cap, DataEnd::kBetweenUnits) {
    begin();
  }
  ~Bzip2Source() override { end(); }

 private:
  Step step(Window& w, bool inputEnded) override;
  void begin() {
    std::memset(&s_, 0, sizeof s_);
    ready_ = BZ2_bzDecompressInit(&s_, 0, 0) == BZ_OK;
  }
  void end() {
    if (ready_) BZ2_bzDecompressEnd(&s_);
    ready_ = false;
  }

  bz_stream s_;
  bool ready_ = false;
};

Decoder::Step Bzip2Source::step(Window& w, bool /*inputEnded*/) {
  if (!ready_) return Step::kFailed;
  s_.next_in = reinterpret_cast<char*>(w.in);
  s_.avail_in = count32(w.inLeft);
  s_.next_out = reinterpret_cast<char*>(w.out);
  s_.avail_out = count32(w.outLeft);
  int rc = BZ2_bzDecompress(&s_);
  w.used(static_cast<size_t>(reinterpret_cast<unsigned char*>(s_.next_in) - w.in),
         static_cast<size_t>(reinterpret_cast<unsigned char*>(s_.next_out) - w.out));
  if (rc == BZ_STREAM_END) {
    // The stream's checks passed. The library starts a further stream only
    // from a fresh state.
    end();
    begin();
    return ready_ ? Step::kUnitEnded : Step::kFailed;
  }
  return rc == BZ_OK ? Step::kGoing : Step::kFailed;
}

}  // namespace

std::unique_ptr<InputSource> openBzip2(ByteSource& in, const unsigned char* head, size_t n,
                                       size_t cap) {
  return std::make_unique<Bzip2Source>(in, head, n, cap);
}

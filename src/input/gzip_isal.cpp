// SPDX-License-Identifier: MIT
// gzip decoding through ISA-L's inflate, several times faster than zlib's.
#include <isa-l/igzip_lib.h>

#include <cstdint>

#include "decoders.h"

namespace {

class IsalSource : public Decoder {
 public:
  IsalSource(FILE* F, const unsigned char* head, size_t n, size_t cap)
      : Decoder(F, head, n, cap, false), s_(new inflate_state()) {
    begin();
  }

 private:
  Step step(Window& w, bool inputEnded) override;
  // The gzip wrapper is parsed and each member's CRC-32 and length checked.
  void begin() {
    isal_inflate_init(s_.get());
    s_->crc_flag = ISAL_GZIP;
  }

  bool reservedFlags(const Window& w) const;

  std::unique_ptr<inflate_state> s_;  // some 40 KiB of tables and buffers
  size_t memberPos_ = 0;              // bytes of the member taken, up to its flags
};

// Whether the member's flag byte, when it is in the window, sets one of the
// reserved bits, which no gzip writer sets: such a member is damage, as
// zlib says too, while ISA-L would read on.
bool IsalSource::reservedFlags(const Window& w) const {
  constexpr size_t kFlags = 3;  // after the magic and the method
  if (memberPos_ > kFlags || kFlags - memberPos_ >= w.inLeft) return false;
  return (w.in[kFlags - memberPos_] & 0xE0) != 0;
}

Decoder::Step IsalSource::step(Window& w, bool /*inputEnded*/) {
  if (reservedFlags(w)) return Step::kFailed;
  inflate_state& s = *s_;
  s.next_in = w.in;
  s.avail_in = count32(w.inLeft);
  s.next_out = w.out;
  s.avail_out = count32(w.outLeft);
  int rc = isal_inflate(&s);
  size_t taken = static_cast<size_t>(s.next_in - w.in);
  w.used(taken, static_cast<size_t>(s.next_out - w.out));
  memberPos_ += taken;
  if (rc != ISAL_DECOMP_OK) return Step::kFailed;
  if (s.block_state != ISAL_BLOCK_FINISH) return Step::kGoing;
  // The member's check value and length were verified; a further member
  // starts from a fresh state.
  isal_inflate_reset(&s);
  s.crc_flag = ISAL_GZIP;
  memberPos_ = 0;
  return Step::kUnitEnded;
}

}  // namespace

std::unique_ptr<InputSource> openGzipIsal(FILE* F, const unsigned char* head, size_t n,
                                          size_t cap) {
  return std::make_unique<IsalSource>(F, head, n, cap);
}

// SPDX-License-Identifier: MIT
// gzip decoding through ISA-L's inflate, several times faster than zlib's.
#include <isa-l/igzip_lib.h>

#include <cstdint>

#include "input/decoders.h"

namespace {

class IsalSource : public Decoder {
 public:
  IsalSource(ByteSource& in, const unsigned char* head, size_t n, size_t cap)
      : Decoder(in, head, n, cap, DataEnd::kBetweenUnits), s_(std::make_unique<inflate_state>()) {
    begin();
  }

 private:
  Step step(Window& w, bool inputEnded) override;
  // The gzip wrapper is parsed and each member's CRC-32 and length checked.
  void begin() {
    isal_inflate_init(s_.get());
    s_->crc_flag = ISAL_GZIP;
    startMember();
  }
  // The extra field, name and comment are skipped, not kept.
  void startMember() {
    isal_gzip_header_init(&header_);
    inHeader_ = true;
  }

  bool reservedFlags(const Window& w) const;

  std::unique_ptr<inflate_state> s_;  // some 40 KiB of tables and buffers
  size_t memberPos_ = 0;              // bytes of the member taken, up to its flags
  // The member's header is read here, call after call, before inflating.
  // ISA-L's inflate reads it into a header record of its own that lasts
  // one call: a header that arrives over several calls is then resumed
  // without its flags (stack garbage, so a name, comment or header check
  // may be read where there is none) and with the running header check
  // restarted, so a member with a header check fails.
  isal_gzip_header header_{};
  bool inHeader_ = true;
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
  if (inHeader_) {
    s.next_in = w.in;
    s.avail_in = count32(w.inLeft);
    int rc = isal_read_gzip_header(&s, &header_);
    size_t taken = static_cast<size_t>(s.next_in - w.in);
    w.used(taken, 0);
    memberPos_ += taken;
    // ISAL_END_INPUT: the header goes on in the next input.
    if (rc == ISAL_END_INPUT) return Step::kGoing;
    if (rc != ISAL_DECOMP_OK) return Step::kFailed;
    // The header is whole: inflate takes the member on from its data.
    inHeader_ = false;
  }
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
  startMember();
  memberPos_ = 0;
  return Step::kUnitEnded;
}

}  // namespace

std::unique_ptr<InputSource> openGzipIsal(ByteSource& in, const unsigned char* head, size_t n,
                                          size_t cap) {
  return std::make_unique<IsalSource>(in, head, n, cap);
}

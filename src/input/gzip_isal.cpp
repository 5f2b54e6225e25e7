// SPDX-License-Identifier: MIT
// gzip decoding through ISA-L's inflate, several times faster than zlib's.
#include <isa-l/igzip_lib.h>

#include <cstdint>

#include "decoders.h"

namespace {

uint32_t asU32(size_t n) { return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(n); }

class IsalSource : public InputSource {
 public:
  IsalSource(FILE* F, const unsigned char* head, size_t n, size_t cap)
      : in_(F, head, n, cap), s_(new inflate_state) {
    isal_inflate_init(s_.get());
    // The gzip wrapper is parsed and each member's CRC-32 and length checked.
    s_->crc_flag = ISAL_GZIP;
    s_->next_in = in_.data();
    s_->avail_in = asU32(in_.headSize());
  }

  long read(unsigned char* buf, size_t cap) override;

 private:
  long fail() {
    failed_ = true;
    return -1;
  }
  void nextMember();

  CompressedBytes in_;
  std::unique_ptr<inflate_state> s_;  // some 40 KiB of tables and buffers
  bool inMember_ = true;              // a member has begun and not yet ended
  bool needInput_ = false;            // the last inflate stopped for want of input
  bool failed_ = false;
  bool ended_ = false;
};

// A member ended, its check value and length verified; whatever follows
// must be a further member.
void IsalSource::nextMember() {
  inflate_state& s = *s_;
  uint8_t* nextIn = s.next_in;
  uint32_t availIn = s.avail_in;
  uint8_t* nextOut = s.next_out;
  uint32_t availOut = s.avail_out;
  isal_inflate_reset(&s);
  s.crc_flag = ISAL_GZIP;
  s.next_in = nextIn;
  s.avail_in = availIn;
  s.next_out = nextOut;
  s.avail_out = availOut;
  inMember_ = false;
  needInput_ = true;
}

long IsalSource::read(unsigned char* buf, size_t cap) {
  if (failed_) return -1;
  if (ended_) return 0;
  inflate_state& s = *s_;
  s.next_out = buf;
  s.avail_out = asU32(cap);
  while (s.avail_out > 0) {
    // Inflate keeps bits and bytes of its own: input is only wanted once a
    // call stopped with room left in the output.
    if (s.avail_in == 0 && needInput_) {
      // Deliver what is there before waiting for more input.
      if (s.avail_out < cap) break;
      long n = in_.refill();
      if (n < 0) {
        fail();
        break;
      }
      if (n == 0) {
        if (inMember_) {  // the input stops inside a member
          fail();
          break;
        }
        ended_ = true;
        break;
      }
      s.next_in = in_.data();
      s.avail_in = static_cast<uint32_t>(n);
    }
    inMember_ = true;
    if (isal_inflate(&s) != ISAL_DECOMP_OK) {
      fail();
      break;
    }
    if (s.block_state == ISAL_BLOCK_FINISH) {
      nextMember();
      continue;
    }
    needInput_ = s.avail_out > 0;
  }
  // Output decoded before a failure is delivered first; the failure
  // answers the next call.
  long got = static_cast<long>(cap - s.avail_out);
  return (got == 0 && failed_) ? -1 : got;
}

}  // namespace

std::unique_ptr<InputSource> openGzipIsal(FILE* F, const unsigned char* head, size_t n,
                                          size_t cap) {
  return std::unique_ptr<InputSource>(new IsalSource(F, head, n, cap));
}

// SPDX-License-Identifier: MIT
// BGZF members through ISA-L's whole-buffer inflate, the fastest here.
#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include "input/member_inflate.h"

namespace {

class IsalInflater : public MemberInflater {
 public:
  bool inflate(const unsigned char* data, size_t dataLen, unsigned char* out, uint32_t length,
               uint32_t crc) override {
    inflate_state& st = *s_;
    isal_inflate_init(&st);
    st.next_in = const_cast<unsigned char*>(data);
    st.avail_in = static_cast<uint32_t>(dataLen);
    st.next_out = out;
    st.avail_out = length;
    st.crc_flag = ISAL_DEFLATE;
    if (isal_inflate_stateless(&st) != ISAL_DECOMP_OK || st.avail_out != 0 || st.avail_in != 0)
      return false;
    return crc32_gzip_refl(0, out, length) == crc;
  }

 private:
  std::unique_ptr<inflate_state> s_ = std::make_unique<inflate_state>();  // some 40 KiB of tables
};

}  // namespace

std::unique_ptr<MemberInflater> makeMemberInflater() { return std::make_unique<IsalInflater>(); }

// SPDX-License-Identifier: MIT
// bzip2 decoding: streams one after another.
#include <bzlib.h>

#include <cstring>

#include "decoders.h"

namespace {

unsigned asUnsigned(size_t n) { return n > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(n); }

class Bzip2Source : public InputSource {
 public:
  Bzip2Source(FILE* F, const unsigned char* head, size_t n, size_t cap) : in_(F, head, n, cap) {
    std::memset(&s_, 0, sizeof s_);
    ready_ = BZ2_bzDecompressInit(&s_, 0, 0) == BZ_OK;
    failed_ = !ready_;
    s_.next_in = reinterpret_cast<char*>(in_.data());
    s_.avail_in = asUnsigned(in_.headSize());
  }
  ~Bzip2Source() override {
    if (ready_) BZ2_bzDecompressEnd(&s_);
  }
  Bzip2Source(const Bzip2Source&) = delete;
  Bzip2Source& operator=(const Bzip2Source&) = delete;

  long read(unsigned char* buf, size_t cap) override;

 private:
  long fail() {
    failed_ = true;
    return -1;
  }
  bool nextStream();

  CompressedBytes in_;
  bz_stream s_;
  bool ready_ = false;
  bool inStream_ = true;    // a stream has begun and not yet ended
  bool needInput_ = false;  // the last call stopped for want of input
  bool failed_ = false;
  bool ended_ = false;
};

// A stream ended, its checks verified; whatever follows must be a further
// stream. The library starts one only from a fresh state.
bool Bzip2Source::nextStream() {
  char* nextIn = s_.next_in;
  unsigned availIn = s_.avail_in;
  char* nextOut = s_.next_out;
  unsigned availOut = s_.avail_out;
  BZ2_bzDecompressEnd(&s_);
  std::memset(&s_, 0, sizeof s_);
  ready_ = BZ2_bzDecompressInit(&s_, 0, 0) == BZ_OK;
  s_.next_in = nextIn;
  s_.avail_in = availIn;
  s_.next_out = nextOut;
  s_.avail_out = availOut;
  inStream_ = false;
  needInput_ = true;
  return ready_;
}

long Bzip2Source::read(unsigned char* buf, size_t cap) {
  if (failed_) return -1;
  if (ended_) return 0;
  s_.next_out = reinterpret_cast<char*>(buf);
  s_.avail_out = asUnsigned(cap);
  while (s_.avail_out > 0) {
    // The decoder may hold output of its own: input is only wanted once a
    // call stopped with room left in the output.
    if (s_.avail_in == 0 && needInput_) {
      // Deliver what is there before waiting for more input.
      if (s_.avail_out < cap) break;
      long n = in_.refill();
      if (n < 0) {
        fail();
        break;
      }
      if (n == 0) {
        if (inStream_) {  // the input stops inside a stream
          fail();
          break;
        }
        ended_ = true;
        break;
      }
      s_.next_in = reinterpret_cast<char*>(in_.data());
      s_.avail_in = static_cast<unsigned>(n);
    }
    inStream_ = true;
    int rc = BZ2_bzDecompress(&s_);
    if (rc == BZ_STREAM_END) {
      if (!nextStream()) {
        fail();
        break;
      }
      continue;
    }
    if (rc != BZ_OK) {
      fail();
      break;
    }
    needInput_ = s_.avail_out > 0;
  }
  // Output decoded before a failure is delivered first; the failure
  // answers the next call.
  long got = static_cast<long>(cap - s_.avail_out);
  return (got == 0 && failed_) ? -1 : got;
}

}  // namespace

std::unique_ptr<InputSource> openBzip2(FILE* F, const unsigned char* head, size_t n, size_t cap) {
  return std::unique_ptr<InputSource>(new Bzip2Source(F, head, n, cap));
}

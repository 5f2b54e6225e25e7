// SPDX-License-Identifier: MIT
// xz decoding: streams one after another, with their padding.
#include <lzma.h>

#include <string>

#include "decoders.h"

namespace {

class XzSource : public InputSource {
 public:
  XzSource(FILE* F, const unsigned char* head, size_t n, size_t cap)
      : in_(F, head, n, cap), s_(LZMA_STREAM_INIT) {
    failed_ = lzma_stream_decoder(&s_, kXzMemoryLimit, LZMA_CONCATENATED) != LZMA_OK;
    s_.next_in = in_.data();
    s_.avail_in = in_.headSize();
  }
  ~XzSource() override { lzma_end(&s_); }
  XzSource(const XzSource&) = delete;
  XzSource& operator=(const XzSource&) = delete;

  long read(unsigned char* buf, size_t cap) override;
  std::string message() const override { return message_; }

 private:
  long fail(lzma_ret rc);

  CompressedBytes in_;
  lzma_stream s_;
  std::string message_ = kReadFailedMessage;
  bool atEnd_ = false;      // the compressed bytes are all read
  bool needInput_ = false;  // the last call stopped for want of input
  bool failed_ = false;
  bool ended_ = false;
};

long XzSource::fail(lzma_ret rc) {
  if (rc == LZMA_MEMLIMIT_ERROR) {
    const unsigned long long mib = 1 << 20;
    message_ = "The xz input needs " + std::to_string((lzma_memusage(&s_) + mib - 1) / mib) +
               " MiB of memory to decompress, more than the " +
               std::to_string(kXzMemoryLimit / mib) + " MiB limit.\n";
  }
  failed_ = true;
  return -1;
}

long XzSource::read(unsigned char* buf, size_t cap) {
  if (failed_) return -1;
  if (ended_) return 0;
  s_.next_out = buf;
  s_.avail_out = cap;
  while (s_.avail_out > 0) {
    // The decoder may hold output of its own: input is only wanted once a
    // call stopped with room left in the output.
    if (s_.avail_in == 0 && needInput_ && !atEnd_) {
      // Deliver what is there before waiting for more input.
      if (s_.avail_out < cap) break;
      long n = in_.refill();
      if (n < 0) {
        fail(LZMA_OK);
        break;
      }
      atEnd_ = n == 0;
      s_.next_in = in_.data();
      s_.avail_in = static_cast<size_t>(n);
    }
    // Told that the input is finished, the decoder checks that the last
    // stream is complete and its padding whole.
    lzma_ret rc = lzma_code(&s_, atEnd_ ? LZMA_FINISH : LZMA_RUN);
    if (rc == LZMA_STREAM_END) {
      ended_ = true;
      break;
    }
    if (rc != LZMA_OK) {
      fail(rc);
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

std::unique_ptr<InputSource> openXz(FILE* F, const unsigned char* head, size_t n, size_t cap) {
  return std::unique_ptr<InputSource>(new XzSource(F, head, n, cap));
}

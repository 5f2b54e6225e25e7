// Choosing the input's source from its first bytes.
#include "input.h"

#include "gzip.h"

long Input::read(unsigned char* buf, size_t cap) {
  if (decoder_) return decoder_->read(buf, cap);
  long n = readRaw(F_, buf, cap);
  if (atStart_) n = start(buf, cap, n);
  return n;
}

// Looks at the first block for the gzip magic. A pipe may deliver a single
// byte first; then one more read decides. The block is then handed to the
// decoder, which delivers decoded bytes into the same buffer from here on.
long Input::start(unsigned char* buf, size_t cap, long n) {
  atStart_ = false;
  if (n == 1 && buf[0] == 0x1f) {
    long more = readRaw(F_, buf + 1, cap - 1);
    if (more < 0) return -1;
    n += more;
  }
  if (n < 0 || !hasGzipMagic(buf, static_cast<size_t>(n))) return n;
  decoder_ = openGzip(F_, buf, static_cast<size_t>(n), cap);
  return decoder_->read(buf, cap);
}

// SPDX-License-Identifier: MIT
// Choosing the input's source from its first bytes.
#include "input.h"

#include "formats.h"

namespace {

// Whether `p` is the start of a magic it does not yet complete.
bool partMagic(const unsigned char* p, size_t n) {
  for (const InputFormat& f : inputFormats()) {
    if (n < f.magicSize && agreesWithMagic(f, p, n)) return true;
  }
  return false;
}

const InputFormat* findFormat(const unsigned char* p, size_t n) {
  for (const InputFormat& f : inputFormats()) {
    if (n >= f.magicSize && agreesWithMagic(f, p, n)) return &f;
  }
  return nullptr;
}

// A source that fails at once with its message: the input's format was
// recognised, but its decoder was not built in.
class MissingSource : public InputSource {
 public:
  explicit MissingSource(const char* message) : message_(message) {}
  long read(unsigned char*, size_t) override { return -1; }
  std::string message() const override { return message_; }

 private:
  const char* message_;
};

}  // namespace

long Input::read(unsigned char* buf, size_t cap) {
  if (decoder_) return decoder_->read(buf, cap);
  long n = readRaw(F_, buf, cap);
  if (atStart_) n = start(buf, cap, n);
  return n;
}

void Input::close() {
  if (F_ != nullptr && F_ != stdin) std::fclose(F_);
  F_ = nullptr;
}

std::string Input::message() const {
  return decoder_ ? decoder_->message() : std::string(kReadFailedMessage);
}

// Looks at the first block for a magic. A pipe may deliver the first bytes
// on their own; while they are only the start of a magic, further reads
// decide. The block is then handed to the decoder, which delivers decoded
// bytes into the same buffer from here on.
long Input::start(unsigned char* buf, size_t cap, long n) {
  atStart_ = false;
  while (n > 0 && partMagic(buf, static_cast<size_t>(n))) {
    long more = readRaw(F_, buf + n, cap - static_cast<size_t>(n));
    if (more < 0) return -1;
    if (more == 0) break;
    n += more;
  }
  if (n <= 0) return n;
  const InputFormat* format = findFormat(buf, static_cast<size_t>(n));
  if (format == nullptr) return n;
  if (format->open == nullptr) {
    decoder_ = std::make_unique<MissingSource>(format->missing);
  } else {
    decoder_ = format->open(F_, buf, static_cast<size_t>(n), cap);
  }
  return decoder_->read(buf, cap);
}

// SPDX-License-Identifier: MIT
// Choosing the input's source from its first bytes.
#include "input.h"

#include "decoders.h"

namespace {

constexpr size_t kMagicMax = 6;

// A format's magic: byte k lies in lo[k]..hi[k].
struct Magic {
  size_t n;
  unsigned char lo[kMagicMax];
  unsigned char hi[kMagicMax];
  DecoderOpener open;   // null when the decoder was not built in
  const char* missing;  // then the message
};

#ifdef QUENBREL_HAVE_ISAL
constexpr DecoderOpener kGzip = openGzipIsal;
#else
constexpr DecoderOpener kGzip = openGzipZlib;
#endif
#ifdef QUENBREL_HAVE_ZSTD
constexpr DecoderOpener kZstd = openZstd;
#else
constexpr DecoderOpener kZstd = nullptr;
#endif
#ifdef QUENBREL_HAVE_XZ
constexpr DecoderOpener kXz = openXz;
#else
constexpr DecoderOpener kXz = nullptr;
#endif
#ifdef QUENBREL_HAVE_BZIP2
constexpr DecoderOpener kBzip2 = openBzip2;
#else
constexpr DecoderOpener kBzip2 = nullptr;
#endif

// None of these can begin IG or FASTA text, so recognising them takes
// nothing from plain input.
const Magic kMagics[] = {
    {2, {0x1f, 0x8b}, {0x1f, 0x8b}, kGzip, nullptr},
    {4,
     {0x28, 0xb5, 0x2f, 0xfd},
     {0x28, 0xb5, 0x2f, 0xfd},
     kZstd,
     "Input is zstd-compressed, but quenbrel was built without zstd support (libzstd).\n"},
    // A zstd stream may open with a skippable frame.
    {4,
     {0x50, 0x2a, 0x4d, 0x18},
     {0x5f, 0x2a, 0x4d, 0x18},
     kZstd,
     "Input is zstd-compressed, but quenbrel was built without zstd support (libzstd).\n"},
    {6,
     {0xfd, '7', 'z', 'X', 'Z', 0},
     {0xfd, '7', 'z', 'X', 'Z', 0},
     kXz,
     "Input is xz-compressed, but quenbrel was built without xz support (liblzma).\n"},
    {4,
     {'B', 'Z', 'h', '1'},
     {'B', 'Z', 'h', '9'},
     kBzip2,
     "Input is bzip2-compressed, but quenbrel was built without bzip2 support (libbz2).\n"},
};

// Whether the first min(n, magic size) bytes of `p` agree with `m`.
bool agrees(const Magic& m, const unsigned char* p, size_t n) {
  for (size_t k = 0; k < n && k < m.n; ++k) {
    if (p[k] < m.lo[k] || p[k] > m.hi[k]) return false;
  }
  return true;
}

// Whether `p` is the start of a magic it does not yet complete.
bool partMagic(const unsigned char* p, size_t n) {
  for (const Magic& m : kMagics) {
    if (n < m.n && agrees(m, p, n)) return true;
  }
  return false;
}

const Magic* findMagic(const unsigned char* p, size_t n) {
  for (const Magic& m : kMagics) {
    if (n >= m.n && agrees(m, p, n)) return &m;
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
  const Magic* m = findMagic(buf, static_cast<size_t>(n));
  if (m == nullptr) return n;
  if (m->open == nullptr) {
    decoder_.reset(new MissingSource(m->missing));
  } else if (m->open == kGzip && threads_ > 1 && looksLikeBgzf(buf, static_cast<size_t>(n))) {
    decoder_ = openBgzf(F_, buf, static_cast<size_t>(n), threads_, kGzip);
  } else {
    decoder_ = m->open(F_, buf, static_cast<size_t>(n), cap);
  }
  return decoder_->read(buf, cap);
}

// SPDX-License-Identifier: MIT
// Choosing the input's source from its first bytes.
#include "input/input.h"

#include <utility>

#include "input/formats.h"

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

Input::Input(ByteSource& in, int threads, InputPathChoice path)
    : in_(in), threads_(threads), buf_(new unsigned char[kHead + kBlock]), path_(path) {}

long Input::next(unsigned char*& data) {
  // Back from the thread once the engine has had every block it filled.
  if (dropping_ && ahead_->drained()) {
    decoder_ = ahead_->releaseSource();
    ahead_.reset();
    dropping_ = false;
  }
  long n;
  if (ahead_) {
    n = ahead_->next(data);
    progress_ = ahead_->progress();
  } else if (atStart_) {
    atStart_ = false;
    data = buf_.get() + kHead;
    n = start(data);
    if (decoder_) progress_ = decoder_->progress();
    // The first block, whole, is settled here; the rest may be read on.
    if (n > 0) readAheadAfterStart();
    return n;
  } else {
    data = buf_.get() + kHead;
    n = read(data, kBlock);
    if (decoder_) progress_ = decoder_->progress();
  }
  return trial_ ? counted(n) : n;
}

// When the run may have two threads, reading a pipe (or terminal), which
// may wait, goes on on a thread of its own at once. Decoding compressed
// input, and reading a plain file where that may pay, go on on one if the
// trial finds it faster. One thread asked for is one thread used; BGZF
// input is inflated on workers already.
void Input::readAheadAfterStart() {
  if (threads_ < 2 || onWorkers_) return;
  bool mayWait = in_.mayWait();
  if (!compressed_ && !mayWait && !ReadAhead::pays(in_, kBlock)) return;
  if (mayWait || path_.trialBlocks == 0) {
    startThread();
    return;
  }
  trial_ = std::make_unique<PathTrial>(path_, ReadAhead::kSlots);
}

void Input::startThread() {
  std::unique_ptr<InputSource> source =
      decoder_ ? std::move(decoder_) : std::make_unique<RawSource>(in_);
  ahead_ = std::make_unique<ReadAhead>(std::move(source), in_, compressed_ ? aheadBlock_ : kBlock,
                                       kHead);
}

long Input::counted(long n) {
  switch (trial_->count(n, ahead_ ? ahead_->waiting() : 0)) {
    case PathTrial::Step::kGoOn: return n;
    case PathTrial::Step::kStartThread: startThread(); return n;
    case PathTrial::Step::kKeepThread: break;
    case PathTrial::Step::kDropThread:
      ahead_->stopReading();
      dropping_ = true;
      break;
  }
  trial_.reset();
  return n;
}

long Input::read(unsigned char* buf, size_t cap) {
  return decoder_ ? decoder_->read(buf, cap) : in_.read(buf, cap);
}

bool Input::restReadsClean() {
  if (!compressed_) return true;
  const uint64_t unit = progress_.last;
  unsigned char* block = nullptr;
  for (size_t beyond = 0; progress_.ended <= unit && beyond < kCheckReach;) {
    long n = next(block);
    if (n <= 0) return n == 0;
    beyond += static_cast<size_t>(n);
  }
  return true;
}

void Input::close() {
  if (ahead_) ahead_->stop();
  in_.close();
}

std::string Input::message() const {
  if (ahead_) return ahead_->message();
  return decoder_ ? decoder_->message() : std::string(kReadFailedMessage);
}

// Reads the first block and looks at its first bytes for a magic. A pipe
// may deliver the first bytes on their own; while they are only the start
// of a magic, further reads decide. The block is then handed to the
// decoder, which delivers decoded bytes into the same buffer from here on.
// Reads go on until the block holds three bytes.
long Input::start(unsigned char* buf) {
  constexpr long kFirstMin = 3;
  long n = in_.read(buf, kBlock);
  while (n > 0 && partMagic(buf, static_cast<size_t>(n))) {
    long more = in_.read(buf + n, kBlock - static_cast<size_t>(n));
    if (more < 0) return -1;
    if (more == 0) break;
    n += more;
  }
  if (n <= 0) return n;
  if (const InputFormat* format = findFormat(buf, static_cast<size_t>(n))) {
    compressed_ = true;
    if (format->slow) aheadBlock_ = kBlock / 4;
    if (format->open == nullptr) {
      decoder_ = std::make_unique<MissingSource>(format->missing);
      return -1;
    }
    // gzip in BGZF members is inflated on the workers, when there are any.
    bool gzip = format == inputFormat("gzip");
    if (gzip && threads_ > 1 && looksLikeBgzf(buf, static_cast<size_t>(n))) {
      onWorkers_ = true;
      decoder_ = openBgzf(in_, buf, static_cast<size_t>(n), threads_, format->open);
    } else {
      decoder_ = format->open(in_, buf, static_cast<size_t>(n), kBlock);
    }
    n = decoder_->read(buf, kBlock);
  }
  // What comes before a failure is delivered; the failure answers the next
  // call.
  while (n > 0 && n < kFirstMin) {
    long more = read(buf + n, kBlock - static_cast<size_t>(n));
    if (more <= 0) break;
    n += more;
  }
  return n;
}

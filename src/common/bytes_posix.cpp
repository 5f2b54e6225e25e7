// SPDX-License-Identifier: MIT
// The descriptor backend of the byte layer, for systems with POSIX
// descriptors: a read waits in poll() on the input and on a wake-up pipe
// when the source is stoppable, else in read() alone.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "common/bytes.h"

namespace {

class DescriptorSource final : public ByteSource {
 public:
  DescriptorSource(int fd, bool owned) : fd_(fd), owned_(owned) {
    struct stat st;
    regular_ = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  }
  ~DescriptorSource() override {
    close();
    if (wake_ >= 0) ::close(wake_);
    if (int fd = wakeWriter_.load(); fd >= 0) ::close(fd);
  }
  DescriptorSource(const DescriptorSource&) = delete;
  DescriptorSource& operator=(const DescriptorSource&) = delete;

  long read(unsigned char* buf, size_t cap) override;
  bool mayWait() const override { return !regular_; }
  int64_t remaining() const override;
  bool stoppable(bool on) override;
  void stop() override;
  void close() override;

 private:
  int fd_;
  bool owned_;
  bool regular_ = false;
  void wake();

  bool polling_ = false;  // reads wait on the wake-up pipe too
  // The wake-up pipe's ends. stop() may come from a host's thread at any
  // time, also while the reader makes the pipe: it finds the writing end
  // through the atomic, and the pipe made after it is woken by its maker.
  // A byte is written at most twice; nothing reads it back, the source is
  // done.
  int wake_ = -1;
  std::atomic<int> wakeWriter_{-1};
  std::atomic<bool> stopped_{false};
};

long DescriptorSource::read(unsigned char* buf, size_t cap) {
  if (fd_ < 0 || stopped_) return -1;
  for (;;) {
    if (polling_) {
      // Wait for the input or for the word to stop, whichever comes first.
      pollfd fds[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return -1;
      }
      if (fds[1].revents != 0) return -1;
    }
    ssize_t n = ::read(fd_, buf, cap);
    if (n >= 0) return static_cast<long>(n);
    if (errno != EINTR) return -1;
  }
}

int64_t DescriptorSource::remaining() const {
  struct stat st;
  if (!regular_ || fd_ < 0 || fstat(fd_, &st) != 0) return -1;
  off_t at = lseek(fd_, 0, SEEK_CUR);
  return at < 0 ? -1 : static_cast<int64_t>(st.st_size - at);
}

// A regular file's reads do not wait: they need no wake-up.
bool DescriptorSource::stoppable(bool on) {
  polling_ = false;
  if (!on) return false;
  if (regular_) return true;
  if (wake_ < 0) {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return false;
    wake_ = ends[0];
    wakeWriter_.store(ends[1]);
  }
  polling_ = true;
  // A stop() that came before the pipe could not wake it.
  if (stopped_) wake();
  return true;
}

void DescriptorSource::stop() {
  stopped_ = true;
  wake();
}

void DescriptorSource::wake() {
  int fd = wakeWriter_.load();
  if (fd < 0) return;
  const char word = 0;
  // The pipe is ours and holds at most two bytes: they fit.
  ssize_t written = ::write(fd, &word, 1);
  (void)written;
}

void DescriptorSource::close() {
  if (owned_ && fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

class DescriptorSink : public FileSink {
 public:
  DescriptorSink(int fd, bool owned) : fd_(fd), owned_(owned) {}
  DescriptorSink(const DescriptorSink&) = delete;
  DescriptorSink& operator=(const DescriptorSink&) = delete;
  ~DescriptorSink() override {
    if (owned_ && fd_ >= 0) ::close(fd_);
  }

  bool write(const unsigned char* p, size_t n) override;
  bool finish(Ending ending) override;
  bool empty() override;

 private:
  int fd_;
  bool owned_;
  bool failed_ = false;
};

bool DescriptorSink::write(const unsigned char* p, size_t n) {
  while (!failed_ && n > 0) {
    ssize_t w = ::write(fd_, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      failed_ = true;
      break;
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
  return !failed_;
}

bool DescriptorSink::empty() {
  struct stat st;
  if (fstat(fd_, &st) != 0) return false;
  return !S_ISREG(st.st_mode) || ftruncate(fd_, 0) == 0;
}

bool DescriptorSink::finish(Ending) {
  if (owned_ && fd_ >= 0 && ::close(fd_) != 0) failed_ = true;
  fd_ = -1;
  return !failed_;
}

}  // namespace

std::unique_ptr<ByteSource> descriptorSource(int fd, bool owned) {
  return std::make_unique<DescriptorSource>(fd, owned);
}

std::unique_ptr<Sink> descriptorSink(int fd, bool owned) {
  return std::make_unique<DescriptorSink>(fd, owned);
}

std::unique_ptr<FileSink> openFileSink(const std::string& name) {
  int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  return fd < 0 ? nullptr : std::make_unique<DescriptorSink>(fd, true);
}

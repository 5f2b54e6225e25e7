// SPDX-License-Identifier: MIT
// The descriptor backend of the byte layer for Windows: the C runtime's
// descriptors, read and written through their system handles. Windows
// cannot wait on a pipe and on a wake-up at once; a read that waits is
// ended instead by cancelling the reading thread's call.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they need.
#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "common/bytes.h"
#include "common/win32.h"

namespace {

HANDLE handleOf(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

bool isDiskFile(HANDLE h) { return h != INVALID_HANDLE_VALUE && GetFileType(h) == FILE_TYPE_DISK; }

// How often stop() tries to cancel a read that has not begun yet.
constexpr int kCancelAttempts = 20;

// ReadFile and WriteFile take at most a DWORD's worth at once.
DWORD portion(size_t n) { return n > 0x40000000u ? 0x40000000u : static_cast<DWORD>(n); }

class DescriptorSource final : public ByteSource {
 public:
  DescriptorSource(int fd, bool owned) : fd_(fd), owned_(owned), handle_(handleOf(fd)) {
    regular_ = isDiskFile(handle_);
  }
  ~DescriptorSource() override {
    close();
    if (thread_ != nullptr) CloseHandle(thread_);
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
  bool enter();
  void leave();

  int fd_;
  bool owned_;
  HANDLE handle_;
  bool regular_ = false;
  bool cancelling_ = false;  // stop() cancels a read that waits
  std::mutex lock_;
  std::condition_variable left_;
  bool reading_ = false;     // a thread is in read(), guarded by lock_
  HANDLE thread_ = nullptr;  // that thread, to cancel its call
  DWORD threadId_ = 0;
  std::atomic<bool> stopped_{false};
};

// Makes the calling thread the one stop() cancels; false once stopped.
bool DescriptorSource::enter() {
  std::lock_guard<std::mutex> hold(lock_);
  if (stopped_) return false;
  DWORD id = GetCurrentThreadId();
  if (thread_ == nullptr || threadId_ != id) {
    if (thread_ != nullptr) CloseHandle(thread_);
    thread_ = OpenThread(THREAD_TERMINATE, FALSE, id);
    threadId_ = id;
  }
  reading_ = true;
  return true;
}

void DescriptorSource::leave() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    reading_ = false;
  }
  left_.notify_all();
}

long DescriptorSource::read(unsigned char* buf, size_t cap) {
  if (fd_ < 0 || stopped_) return -1;
  if (cancelling_ && !enter()) return -1;
  DWORD got = 0;
  bool ok = ReadFile(handle_, buf, portion(cap), &got, nullptr) != 0;
  // A pipe whose writer has gone is at its end.
  DWORD error = ok ? 0 : GetLastError();
  if (cancelling_) leave();
  if (ok) return static_cast<long>(got);
  return error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF ? 0 : -1;
}

int64_t DescriptorSource::remaining() const {
  LARGE_INTEGER size, at, none;
  none.QuadPart = 0;
  if (!regular_ || fd_ < 0 || !GetFileSizeEx(handle_, &size) ||
      !SetFilePointerEx(handle_, none, &at, FILE_CURRENT))
    return -1;
  return size.QuadPart - at.QuadPart;
}

bool DescriptorSource::stoppable(bool on) {
  cancelling_ = on && !regular_;
  return on;
}

// The reader may be between its check and its call when the word comes,
// when the cancel finds no call to end: it is tried again a few times, a
// millisecond apart, while the reader stays in read(). A call the system
// cannot cancel (Wine's reads of a pipe of its host) ends when input comes
// or ends, as on a system without a wake-up.
void DescriptorSource::stop() {
  std::unique_lock<std::mutex> hold(lock_);
  stopped_ = true;
  for (int attempt = 0; attempt < kCancelAttempts && reading_ && thread_ != nullptr; ++attempt) {
    if (CancelSynchronousIo(thread_) || GetLastError() != ERROR_NOT_FOUND) break;
    left_.wait_for(hold, std::chrono::milliseconds(1));
  }
}

void DescriptorSource::close() {
  if (owned_ && fd_ >= 0) _close(fd_);
  fd_ = -1;
}

class DescriptorSink : public FileSink {
 public:
  DescriptorSink(int fd, bool owned) : fd_(fd), owned_(owned), handle_(handleOf(fd)) {}
  DescriptorSink(const DescriptorSink&) = delete;
  DescriptorSink& operator=(const DescriptorSink&) = delete;
  ~DescriptorSink() override {
    if (owned_ && fd_ >= 0) _close(fd_);
  }

  bool write(const unsigned char* p, size_t n) override;
  bool finish(Ending ending) override;
  bool empty() override;

 private:
  int fd_;
  bool owned_;
  HANDLE handle_;
  bool failed_ = false;
};

bool DescriptorSink::write(const unsigned char* p, size_t n) {
  while (!failed_ && n > 0) {
    DWORD put = 0;
    if (!WriteFile(handle_, p, portion(n), &put, nullptr) || put == 0) {
      failed_ = true;
      break;
    }
    p += put;
    n -= put;
  }
  return !failed_;
}

bool DescriptorSink::empty() {
  if (handle_ == INVALID_HANDLE_VALUE) return false;
  if (!isDiskFile(handle_)) return true;
  LARGE_INTEGER start;
  start.QuadPart = 0;
  return SetFilePointerEx(handle_, start, nullptr, FILE_BEGIN) && SetEndOfFile(handle_);
}

bool DescriptorSink::finish(Ending) {
  if (owned_ && fd_ >= 0 && _close(fd_) != 0) failed_ = true;
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

// Opened as POSIX's open() without O_TRUNC would: others may read it
// meanwhile, and no child process inherits it.
std::unique_ptr<FileSink> openFileSink(const std::string& name) {
  HANDLE h = CreateFileW(platform::wideName(name).c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  return std::make_unique<DescriptorSink>(fd, true);
}

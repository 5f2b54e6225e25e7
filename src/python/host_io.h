// SPDX-License-Identifier: MIT
// What the Python module puts between the interpreter and the run: a
// binary file object as the run's input or output, an input the
// interpreter can cancel, and the wait of the calling thread, which lets
// the interpreter's signal handlers run while the run goes on.
//
// The run works on threads of its own, without the GIL; a file object is
// called with the GIL taken for each call, from whichever thread reads or
// writes. What a file object raises is kept, and raised again, as the
// cause of the run's failure, on the thread that started the run.
#ifndef QUENBREL_PYTHON_HOST_IO_H
#define QUENBREL_PYTHON_HOST_IO_H

// Sizes of "#" formats are Py_ssize_t.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>

#include "common/bytes.h"
#include "common/platform.h"

namespace host {

// A strong reference to a Python object that may be let go of from any
// thread: the GIL is taken for the last decrement.
class Ref {
 public:
  Ref() = default;
  // Takes over `owned` (a new reference); the GIL is held.
  explicit Ref(PyObject* owned) : p_(owned) {}
  ~Ref() { reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(other.p_) { other.p_ = nullptr; }
  Ref& operator=(Ref&& other) noexcept;

  PyObject* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Hands the reference over (the GIL is held).
  PyObject* release() {
    PyObject* p = p_;
    p_ = nullptr;
    return p;
  }
  void reset();

 private:
  PyObject* p_ = nullptr;
};

// The exception a file object raised, kept until the thread that started
// the run raises it again; the first one counts.
class PendingError {
 public:
  // Takes the current Python error (the GIL is held).
  void fetch();
  // Sets the kept exception as the cause of the one now set (the GIL is
  // held), or, when none is set, as the error itself.
  void restoreAsCause();

 private:
  mutable std::mutex lock_;
  Ref error_;
};

// A binary file object to read: readinto1() where it has it (what a pipe
// holds, without waiting for a full buffer), else readinto(), else read().
class FileSource final : public ByteSource {
 public:
  // The GIL is held.
  FileSource(PyObject* file, PendingError& error);
  long read(unsigned char* buf, size_t cap) override;
  // A file object may stand for a pipe or a socket.
  bool mayWait() const override { return true; }
  void stop() override { stopped_ = true; }

 private:
  long readLocked(unsigned char* buf, size_t cap);

  Ref file_;
  Ref method_;  // the bound method that reads
  bool into_;   // it reads into a buffer (readinto1, readinto)
  PendingError& error_;
  std::atomic<bool> stopped_{false};
};

// A binary file object to write: write() until every byte is taken, and
// flush() at the end, so that a failure to write out what the object holds
// back is the run's.
class FileSink final : public Sink {
 public:
  // The GIL is held.
  FileSink(PyObject* file, PendingError& error);
  bool write(const unsigned char* p, size_t n) override;
  bool finish(Ending ending) override;

 private:
  bool writeLocked(const unsigned char* p, size_t n);

  Ref file_;
  PendingError& error_;
  bool failed_ = false;
};

// An input whose reads fail once cancel() was called: the engine then ends
// the run as after any read failure, its output finished and the files that
// describe it discarded. A read that waits is stopped where the input can
// be.
class CancellableSource final : public ByteSource {
 public:
  explicit CancellableSource(ByteSource& in) : in_(in) {}
  long read(unsigned char* buf, size_t cap) override {
    return cancelled_ ? -1 : in_.read(buf, cap);
  }
  bool mayWait() const override { return in_.mayWait(); }
  int64_t remaining() const override { return in_.remaining(); }
  bool stoppable(bool on) override { return in_.stoppable(on); }
  void stop() override { in_.stop(); }
  void close() override { in_.close(); }

  // From any thread.
  void cancel() {
    cancelled_ = true;
    in_.stop();
  }
  bool cancelled() const { return cancelled_; }

 private:
  ByteSource& in_;
  std::atomic<bool> cancelled_{false};
};

// The file object's descriptor, when it has one: the file it reads or
// writes, for the command line's refusals (the GIL is held).
platform::FileId fileObjectId(PyObject* file);

// The run's input: a path (bytes), opened as the command line opens its
// input operand, or a binary file object.
struct BoundInput {
  std::FILE* file = nullptr;
  std::unique_ptr<ByteSource> source;
  platform::FileId id;
  BoundInput() = default;
  BoundInput(const BoundInput&) = delete;
  BoundInput& operator=(const BoundInput&) = delete;
  ~BoundInput();
};

// Binds `src` (the GIL is held); false, with the command line's ReadError
// set, when the path cannot be opened. What the file object raises goes to
// `error`.
bool bindInput(PyObject* src, BoundInput& input, PendingError& error);

// How often a thread that waits without the GIL lets the interpreter run
// its signal handlers (Ctrl-C), in milliseconds.
constexpr int kSignalCheckMs = 50;

// Runs `work` on a thread of its own while the calling thread (holding the
// GIL) waits without it, running the interpreter's signal handlers as it
// waits. When one raises, `cancel` is called once and the wait goes on to
// the end of `work`. False when a handler raised: its error is set.
bool runWithoutGil(const std::function<void()>& work, const std::function<void()>& cancel);

}  // namespace host

#endif  // QUENBREL_PYTHON_HOST_IO_H

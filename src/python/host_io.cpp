// SPDX-License-Identifier: MIT
// File objects as the run's input and output, and the wait without the GIL.
#include "python/host_io.h"

#include "engine/convert.h"
#include "python/errors.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <thread>

namespace host {

namespace {

// The GIL, taken for a scope by a thread that may or may not hold it.
class Gil {
 public:
  Gil() : state_(PyGILState_Ensure()) {}
  ~Gil() { PyGILState_Release(state_); }
  Gil(const Gil&) = delete;
  Gil& operator=(const Gil&) = delete;

 private:
  PyGILState_STATE state_;
};

// A view of `n` bytes at `p` for a call of the file object; released after
// it, so that an object that keeps it sees an error, never freed memory.
class View {
 public:
  View(const unsigned char* p, size_t n, int flags)
      : view_(PyMemoryView_FromMemory(reinterpret_cast<char*>(const_cast<unsigned char*>(p)),
                                      static_cast<Py_ssize_t>(n), flags)) {}
  ~View() {
    if (!view_) return;
    // The error of the call, if any, outlives the release.
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    PyObject* released = PyObject_CallMethod(view_.get(), "release", nullptr);
    Py_XDECREF(released);
    PyErr_Clear();
    PyErr_Restore(type, value, traceback);
  }
  View(const View&) = delete;
  View& operator=(const View&) = delete;
  PyObject* get() const { return view_.get(); }

 private:
  Ref view_;
};

// What a call of read or write returned, as a count: -1 (with the error
// set) when it is no integer from 0 to `cap`.
long countFrom(PyObject* result, size_t cap, const char* what) {
  if (result == Py_None) {
    PyErr_Format(PyExc_BlockingIOError, "the file object's %s() would block", what);
    return -1;
  }
  Py_ssize_t n = PyNumber_AsSsize_t(result, PyExc_OverflowError);
  if (n == -1 && PyErr_Occurred()) return -1;
  if (n < 0 || static_cast<size_t>(n) > cap) {
    PyErr_Format(PyExc_ValueError, "the file object's %s() returned %zd for %zu bytes", what, n,
                 cap);
    return -1;
  }
  return static_cast<long>(n);
}

}  // namespace

Ref& Ref::operator=(Ref&& other) noexcept {
  if (this != &other) {
    reset();
    p_ = other.p_;
    other.p_ = nullptr;
  }
  return *this;
}

void Ref::reset() {
  if (p_ == nullptr) return;
  Gil gil;
  Py_CLEAR(p_);
}

void PendingError::fetch() {
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value != nullptr && traceback != nullptr) PyException_SetTraceback(value, traceback);
  Py_XDECREF(type);
  Py_XDECREF(traceback);
  std::lock_guard<std::mutex> hold(lock_);
  if (!error_) {
    error_ = Ref(value);
  } else {
    Py_XDECREF(value);
  }
}

void PendingError::restoreAsCause() {
  std::lock_guard<std::mutex> hold(lock_);
  if (!error_) return;
  PyObject* kept = error_.release();
  if (!PyErr_Occurred()) {
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(kept)), kept);
    Py_DECREF(kept);
    return;
  }
  PyObject *type, *value, *traceback;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  PyException_SetCause(value, kept);  // takes the reference
  PyErr_Restore(type, value, traceback);
}

// --- the file object to read -------------------------------------------------

FileSource::FileSource(PyObject* file, PendingError& error) : error_(error) {
  Py_INCREF(file);
  file_ = Ref(file);
  for (const char* name : {"readinto1", "readinto", "read"}) {
    PyObject* method = PyObject_GetAttrString(file, name);
    if (method != nullptr) {
      method_ = Ref(method);
      into_ = std::strcmp(name, "read") != 0;
      return;
    }
    PyErr_Clear();
  }
  into_ = false;
}

long FileSource::read(unsigned char* buf, size_t cap) {
  if (stopped_ || !method_) return -1;
  Gil gil;
  long n = readLocked(buf, cap);
  if (n < 0) error_.fetch();
  return n;
}

long FileSource::readLocked(unsigned char* buf, size_t cap) {
  if (into_) {
    View view(buf, cap, PyBUF_WRITE);
    if (view.get() == nullptr) return -1;
    Ref result(PyObject_CallOneArg(method_.get(), view.get()));
    return result ? countFrom(result.get(), cap, "readinto") : -1;
  }
  Ref size(PyLong_FromSize_t(cap));
  if (!size) return -1;
  Ref result(PyObject_CallOneArg(method_.get(), size.get()));
  if (!result) return -1;
  if (result.get() == Py_None) return countFrom(Py_None, cap, "read");
  char* data = nullptr;
  Py_ssize_t n = 0;
  if (!PyBytes_Check(result.get())) {
    PyErr_Format(PyExc_TypeError, "the file object's read() returned %s, not bytes",
                 Py_TYPE(result.get())->tp_name);
    return -1;
  }
  PyBytes_AsStringAndSize(result.get(), &data, &n);
  if (static_cast<size_t>(n) > cap) {
    PyErr_Format(PyExc_ValueError, "the file object's read() returned %zd bytes for %zu", n, cap);
    return -1;
  }
  std::memcpy(buf, data, static_cast<size_t>(n));
  return static_cast<long>(n);
}

// --- the file object to write ------------------------------------------------

FileSink::FileSink(PyObject* file, PendingError& error) : error_(error) {
  Py_INCREF(file);
  file_ = Ref(file);
}

bool FileSink::write(const unsigned char* p, size_t n) {
  if (failed_) return false;
  if (n == 0) return true;
  Gil gil;
  if (!writeLocked(p, n)) {
    error_.fetch();
    failed_ = true;
  }
  return !failed_;
}

bool FileSink::writeLocked(const unsigned char* p, size_t n) {
  // A raw file may take part of the bytes at a time.
  while (n > 0) {
    View view(p, n, PyBUF_READ);
    if (view.get() == nullptr) return false;
    Ref result(PyObject_CallMethod(file_.get(), "write", "O", view.get()));
    if (!result) return false;
    long taken = countFrom(result.get(), n, "write");
    if (taken < 0) return false;
    if (taken == 0) {
      PyErr_SetString(PyExc_OSError, "the file object's write() took no bytes");
      return false;
    }
    p += taken;
    n -= static_cast<size_t>(taken);
  }
  return true;
}

bool FileSink::finish(Ending ending) {
  (void)ending;
  if (failed_) return false;
  Gil gil;
  if (!PyObject_HasAttrString(file_.get(), "flush")) return true;
  Ref result(PyObject_CallMethod(file_.get(), "flush", nullptr));
  if (!result) {
    error_.fetch();
    failed_ = true;
  }
  return !failed_;
}

// --- the input ---------------------------------------------------------------

platform::FileId fileObjectId(PyObject* file) {
  PyObject* fd = PyObject_CallMethod(file, "fileno", nullptr);
  if (fd == nullptr) {
    PyErr_Clear();
    return {};
  }
  long n = PyLong_AsLong(fd);
  Py_DECREF(fd);
  if (n < 0 || PyErr_Occurred()) {
    PyErr_Clear();
    return {};
  }
  return platform::descriptorId(static_cast<int>(n));
}

BoundInput::~BoundInput() {
  source.reset();
  if (file != nullptr) std::fclose(file);
}

bool bindInput(PyObject* src, BoundInput& input, PendingError& error) {
  if (PyBytes_Check(src)) {
    const char* name = PyBytes_AS_STRING(src);
    input.file = platform::openFile(name, "r");
    if (input.file == nullptr) {
      setRunError(kConvertReadFailed,
                  std::string("Bad file name ") + name + "\nFailed to asign input.\n");
      return false;
    }
    input.source = descriptorSource(fileno(input.file), false);
    input.id = platform::fileId(input.file);
    return true;
  }
  input.source = std::make_unique<FileSource>(src, error);
  input.id = fileObjectId(src);
  return true;
}

// --- the wait ----------------------------------------------------------------

bool runWithoutGil(const std::function<void()>& work, const std::function<void()>& cancel) {
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
  bool raised = false;
  PyThreadState* saved = PyEval_SaveThread();
  std::thread worker([&] {
    work();
    std::lock_guard<std::mutex> hold(lock);
    done = true;
    ended.notify_one();
  });
  {
    std::unique_lock<std::mutex> hold(lock);
    while (!done) {
      if (ended.wait_for(hold, std::chrono::milliseconds(kSignalCheckMs), [&] { return done; }))
        break;
      if (raised) continue;
      hold.unlock();
      // The handlers run on the thread that holds the GIL: this one.
      PyEval_RestoreThread(saved);
      raised = PyErr_CheckSignals() != 0;
      saved = PyEval_SaveThread();
      if (raised) cancel();
      hold.lock();
    }
  }
  worker.join();
  PyEval_RestoreThread(saved);
  return !raised;
}

}  // namespace host

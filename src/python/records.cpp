// SPDX-License-Identifier: MIT
// The records of an input, cut from the converter's output, and the
// interpreter's iterator over them.
#include "python/records.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <thread>
#include <utility>

#include "common/platform.h"
#include "engine/convert.h"
#include "python/errors.h"
#include "python/host_io.h"

namespace host {

// --- the bytes -------------------------------------------------------------------

bool ChunkedBytes::append(const char* p, size_t n, std::vector<Chunk>& spares) {
  while (n > 0) {
    if (room() == 0) {
      if (spares.empty()) {
        Chunk fresh(static_cast<char*>(std::malloc(kChunk)));
        if (!fresh) return false;
        chunks_.push_back(std::move(fresh));
      } else {
        chunks_.push_back(std::move(spares.back()));
        spares.pop_back();
      }
    }
    size_t used = size_ % kChunk;
    size_t take = std::min(n, kChunk - used);
    std::memcpy(chunks_[size_ / kChunk].get() + used, p, take);
    size_ += take;
    p += take;
    n -= take;
  }
  return true;
}

const char* ChunkedBytes::contiguous(size_t at, size_t n) const {
  size_t offset = at % kChunk;
  if (offset + n > kChunk) return nullptr;
  // An empty run at the very end may have no chunk of its own.
  if (n == 0) return "";
  return chunks_[at / kChunk].get() + offset;
}

void ChunkedBytes::copy(size_t at, size_t n, char* to) const {
  while (n > 0) {
    size_t offset = at % kChunk;
    size_t take = std::min(n, kChunk - offset);
    std::memcpy(to, chunks_[at / kChunk].get() + offset, take);
    to += take;
    at += take;
    n -= take;
  }
}

bool ChunkedBytes::moveTail(size_t at, ChunkedBytes& to, std::vector<Chunk>& spares) {
  for (size_t from = at; from < size_;) {
    size_t take = std::min(size_ - from, kChunk - from % kChunk);
    if (!to.append(chunks_[from / kChunk].get() + from % kChunk, take, spares)) return false;
    from += take;
  }
  size_ = at;
  while (chunks_.size() > (size_ + kChunk - 1) / kChunk) {
    spares.push_back(std::move(chunks_.back()));
    chunks_.pop_back();
  }
  return true;
}

void ChunkedBytes::release(std::vector<Chunk>& spares, size_t keep) {
  for (Chunk& c : chunks_) {
    if (spares.size() < keep) spares.push_back(std::move(c));
  }
  chunks_.clear();
  size_ = 0;
}

// --- the queue -----------------------------------------------------------------

bool BatchQueue::push(RecordBatch&& batch) {
  std::unique_lock<std::mutex> hold(lock_);
  changed_.wait(hold, [this] { return closed_ || batches_.size() < kSlots; });
  if (closed_) return false;
  batches_.push_back(std::move(batch));
  changed_.notify_all();
  return true;
}

void BatchQueue::end(int status, std::string message) {
  std::lock_guard<std::mutex> hold(lock_);
  ended_ = true;
  status_ = status;
  message_ = std::move(message);
  changed_.notify_all();
}

void BatchQueue::close() {
  std::lock_guard<std::mutex> hold(lock_);
  closed_ = true;
  batches_.clear();
  spares_.clear();
  spareSpans_.clear();
  changed_.notify_all();
}

void BatchQueue::giveBack(RecordBatch& used) {
  std::lock_guard<std::mutex> hold(lock_);
  used.bytes.release(spares_, closed_ ? 0 : kSpareChunks);
  used.spans.clear();
  if (!closed_ && spareSpans_.size() < kSlots) spareSpans_.push_back(std::move(used.spans));
}

void BatchQueue::takeSpans(std::vector<RecordBatch::Span>& spans) {
  std::lock_guard<std::mutex> hold(lock_);
  if (spareSpans_.empty()) return;
  spans = std::move(spareSpans_.back());
  spareSpans_.pop_back();
}

void BatchQueue::takeSpares(std::vector<ChunkedBytes::Chunk>& spares) {
  std::lock_guard<std::mutex> hold(lock_);
  for (ChunkedBytes::Chunk& c : spares_) spares.push_back(std::move(c));
  spares_.clear();
}

BatchQueue::Popped BatchQueue::pop(RecordBatch& batch, int ms, int& status, std::string& message) {
  std::unique_lock<std::mutex> hold(lock_);
  readerWaits_ = true;
  bool ready = changed_.wait_for(hold, std::chrono::milliseconds(ms),
                                 [this] { return !batches_.empty() || ended_; });
  readerWaits_ = false;
  if (!ready) return Popped::kTimedOut;
  if (!batches_.empty()) {
    batch = std::move(batches_.front());
    batches_.pop_front();
    changed_.notify_all();
    return Popped::kBatch;
  }
  status = status_;
  message = message_;
  return Popped::kEnded;
}

// --- the sink --------------------------------------------------------------------

bool RecordSink::handOver() {
  RecordBatch full = std::move(batch_);
  batch_ = RecordBatch();
  queue_.takeSpans(batch_.spans);
  return queue_.push(std::move(full));
}

void RecordSink::append(const unsigned char* p, size_t n) {
  if (n == 0) return;
  if (n <= batch_.bytes.room()) {
    batch_.bytes.appendInPlace(reinterpret_cast<const char*>(p), n);
    return;
  }
  if (spares_.empty()) queue_.takeSpares(spares_);
  if (!batch_.bytes.append(reinterpret_cast<const char*>(p), n, spares_)) markOutOfMemory();
}

void RecordSink::markOutOfMemory() {
  outOfMemory_ = true;
  closed_ = true;
}

bool RecordSink::write(const unsigned char* p, size_t n) {
  std::lock_guard<std::mutex> hold(lock_);
  const unsigned char* end = p + n;
  // The state in locals while the block is cut, where the compiler keeps
  // it in registers: a line is a few bytes.
  bool lineStart = lineStart_, inHeader = inHeader_, haveRecord = haveRecord_;
  RecordBatch::Span record = record_;
  while (p < end && !closed_) {
    if (lineStart) {
      lineStart = false;
      inHeader = *p == '>';
      if (inHeader) {
        if (haveRecord) batch_.spans.push_back(record);
        if (batch_.bytes.size() >= kBatchBytes && !handOver()) closed_ = true;
        record = {batch_.bytes.size(), 0, 0};
        haveRecord = true;
        ++p;
        continue;
      }
    }
    const void* found = std::memchr(p, '\n', static_cast<size_t>(end - p));
    const unsigned char* stop = found != nullptr ? static_cast<const unsigned char*>(found) : end;
    size_t length = static_cast<size_t>(stop - p);
    // The converter writes no residues before the first header.
    if (haveRecord) {
      append(p, length);
      (inHeader ? record.headerLength : record.sequenceLength) += length;
    }
    p = stop;
    if (found != nullptr) {
      ++p;
      lineStart = true;
    }
  }
  lineStart_ = lineStart;
  inHeader_ = inHeader;
  haveRecord_ = haveRecord;
  record_ = record;
  if (queue_.readerWaits()) handOverComplete();
  return !closed_;
}

void RecordSink::handOverComplete() {
  // A long record under way is not copied again and again.
  if (closed_ || batch_.spans.empty() || batch_.bytes.size() - record_.at > kMoveMax) return;
  // The record under way moves to the next batch whole.
  RecordBatch rest;
  if (!batch_.bytes.moveTail(record_.at, rest.bytes, spares_)) markOutOfMemory();
  record_.at = 0;
  std::swap(rest, batch_);
  if (!closed_ && !queue_.push(std::move(rest))) closed_ = true;
}

void RecordSink::handOverIdle() {
  std::unique_lock<std::mutex> hold(lock_, std::try_to_lock);
  if (hold.owns_lock()) handOverComplete();
}

bool RecordSink::finish(Ending ending) {
  std::lock_guard<std::mutex> hold(lock_);
  if (closed_) return false;
  if (ending == Ending::kComplete && haveRecord_) batch_.spans.push_back(record_);
  haveRecord_ = false;
  return batch_.spans.empty() || handOver();
}

// --- the iterator ------------------------------------------------------------------

namespace {

// The records of one input: the run on its thread, and the batch being
// handed out.
class RecordStream {
 public:
  RecordStream(bool upper, bool dropN, bool binary) : binary_(binary) {
    options_.oneLine = true;
    options_.upperCase = upper;
    options_.dropN = dropN;
    options_.threads = platform::processorCount();
  }
  RecordStream(const RecordStream&) = delete;
  RecordStream& operator=(const RecordStream&) = delete;
  ~RecordStream() { stop(); }

  // Binds the input and starts the run (the GIL is held); false with the
  // error set.
  bool start(PyObject* src);
  // The next record, null at the end (no error set) or on an error.
  PyObject* next();
  // Ends the run and waits for its thread, the GIL released meanwhile
  // when the caller holds it.
  void stop();

 private:
  PyObject* item(const RecordBatch::Span& s) const;
  // The `n` bytes at `at` of the batch as bytes, or as str: ASCII as it is,
  // when `ascii` says so or it proves to be, else UTF-8 with other bytes
  // kept as surrogates.
  PyObject* text(size_t at, size_t n, bool ascii) const;
  PyObject* pieced(size_t at, size_t n, bool ascii) const;
  bool refill();

  ConvertOptions options_;
  const bool binary_;
  PendingError error_;
  BoundInput input_;
  std::unique_ptr<CancellableSource> cancellable_;
  BatchQueue queue_;
  RecordSink sink_{queue_};
  std::thread worker_;
  RecordBatch batch_;
  size_t next_ = 0;
  bool ended_ = false;
};

bool RecordStream::start(PyObject* src) {
  if (!bindInput(src, input_, error_)) return false;
  cancellable_ = std::make_unique<CancellableSource>(*input_.source);
  worker_ = std::thread([this] {
    ConvertResult result = convert(*cancellable_, sink_, options_);
    queue_.end(result.status, result.message);
  });
  return true;
}

void RecordStream::stop() {
  ended_ = true;
  if (!worker_.joinable()) return;
  queue_.close();
  cancellable_->cancel();
  // A file object's read on the run's thread waits for the GIL.
  bool holding = PyGILState_Check() != 0;
  PyThreadState* saved = holding ? PyEval_SaveThread() : nullptr;
  worker_.join();
  if (holding) PyEval_RestoreThread(saved);
}

// Waits for the next batch, the GIL released, running the interpreter's
// signal handlers as it waits. False at the end or on an error (set).
bool RecordStream::refill() {
  for (;;) {
    int status = 0;
    std::string message;
    BatchQueue::Popped popped;
    queue_.giveBack(batch_);
    PyThreadState* saved = PyEval_SaveThread();
    popped = queue_.pop(batch_, kSignalCheckMs, status, message);
    if (popped == BatchQueue::Popped::kTimedOut) sink_.handOverIdle();
    PyEval_RestoreThread(saved);
    if (popped == BatchQueue::Popped::kBatch) {
      next_ = 0;
      if (batch_.spans.empty()) continue;
      return true;
    }
    if (popped == BatchQueue::Popped::kEnded) {
      stop();
      if (sink_.outOfMemory()) {
        PyErr_NoMemory();
      } else if (status != kConvertOk) {
        setRunError(status, message);
        error_.restoreAsCause();
      }
      return false;
    }
    if (PyErr_CheckSignals() != 0) {
      stop();
      return false;
    }
  }
}

PyObject* RecordStream::text(size_t at, size_t n, bool ascii) const {
  const char* p = batch_.bytes.contiguous(at, n);
  if (p == nullptr) return pieced(at, n, ascii);
  if (binary_) return PyBytes_FromStringAndSize(p, static_cast<Py_ssize_t>(n));
  if (!ascii) {
    unsigned char any = 0;
    for (size_t i = 0; i < n; ++i) any |= static_cast<unsigned char>(p[i]);
    if (any >= 0x80) return PyUnicode_DecodeUTF8(p, static_cast<Py_ssize_t>(n), "surrogateescape");
  }
  PyObject* s = PyUnicode_New(static_cast<Py_ssize_t>(n), 127);
  if (s != nullptr) std::memcpy(PyUnicode_DATA(s), p, n);
  return s;
}

// Bytes over several chunks: residues go straight into the new object, a
// header (rarely so long) through a copy of its own.
PyObject* RecordStream::pieced(size_t at, size_t n, bool ascii) const {
  const Py_ssize_t size = static_cast<Py_ssize_t>(n);
  if (binary_ || ascii) {
    PyObject* o = binary_ ? PyBytes_FromStringAndSize(nullptr, size) : PyUnicode_New(size, 127);
    if (o != nullptr)
      batch_.bytes.copy(at, n,
                        binary_ ? PyBytes_AS_STRING(o) : static_cast<char*>(PyUnicode_DATA(o)));
    return o;
  }
  std::string whole(n, '\0');
  batch_.bytes.copy(at, n, &whole[0]);
  return PyUnicode_DecodeUTF8(whole.data(), size, "surrogateescape");
}

PyObject* RecordStream::item(const RecordBatch::Span& s) const {
  PyObject* header = text(s.at, s.headerLength, false);
  if (header == nullptr) return nullptr;
  // Residues are letters.
  PyObject* residues = text(s.at + s.headerLength, s.sequenceLength, true);
  if (residues == nullptr) {
    Py_DECREF(header);
    return nullptr;
  }
  PyObject* pair = PyTuple_New(2);
  if (pair == nullptr) {
    Py_DECREF(header);
    Py_DECREF(residues);
    return nullptr;
  }
  PyTuple_SET_ITEM(pair, 0, header);
  PyTuple_SET_ITEM(pair, 1, residues);
  // Strings make no cycles: the collector need not look at the pair, which
  // keeps a list of millions of records from costing a pass over them all
  // at each collection.
  PyObject_GC_UnTrack(pair);
  return pair;
}

PyObject* RecordStream::next() {
  if (ended_) return nullptr;
  if (next_ >= batch_.spans.size() && !refill()) return nullptr;
  return item(batch_.spans[next_++]);
}

struct RecordIterator {
  PyObject_HEAD std::unique_ptr<RecordStream> stream;
};

void iteratorDealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<RecordIterator*>(self)->stream.~unique_ptr();
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* iteratorNext(PyObject* self) {
  return reinterpret_cast<RecordIterator*>(self)->stream->next();
}

PyObject* iteratorClose(PyObject* self, PyObject*) {
  RecordStream& stream = *reinterpret_cast<RecordIterator*>(self)->stream;
  stream.stop();
  Py_RETURN_NONE;
}

PyObject* iteratorEnter(PyObject* self, PyObject*) {
  Py_INCREF(self);
  return self;
}

PyObject* iteratorExit(PyObject* self, PyObject*) {
  iteratorClose(self, nullptr);
  Py_RETURN_FALSE;
}

PyMethodDef iteratorMethods[] = {
    {"close", iteratorClose, METH_NOARGS,
     "Stops reading: the input is let go of, and the iteration ends."},
    {"__enter__", iteratorEnter, METH_NOARGS, nullptr},
    {"__exit__", iteratorExit, METH_VARARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot iteratorSlots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(iteratorDealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(PyObject_SelfIter)},
    {Py_tp_iternext, reinterpret_cast<void*>(iteratorNext)},
    {Py_tp_methods, iteratorMethods},
    {Py_tp_doc, const_cast<char*>("An iterator over the records of an input: "
                                  "(header, sequence) pairs. See quenbrel.records().")},
    {0, nullptr},
};

PyType_Spec iteratorSpec = {
    "quenbrel.RecordIterator",
    sizeof(RecordIterator),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    iteratorSlots,
};

}  // namespace

PyObject* addRecordIteratorType(PyObject* module) {
  PyObject* type = PyType_FromSpec(&iteratorSpec);
  if (type == nullptr || PyModule_AddObject(module, "RecordIterator", type) != 0) {
    Py_XDECREF(type);
    return nullptr;
  }
  return type;
}

PyObject* newRecordIterator(PyObject* type, PyObject* src, bool upper, bool dropN, bool binary) {
  PyTypeObject* t = reinterpret_cast<PyTypeObject*>(type);
  PyObject* self = t->tp_alloc(t, 0);
  if (self == nullptr) return nullptr;
  auto* it = reinterpret_cast<RecordIterator*>(self);
  new (&it->stream)
      std::unique_ptr<RecordStream>(std::make_unique<RecordStream>(upper, dropN, binary));
  if (!it->stream->start(src)) {
    Py_DECREF(self);
    return nullptr;
  }
  return self;
}

}  // namespace host

// SPDX-License-Identifier: MIT
// quenbrel.records(): the records of an input, as the converter writes
// them, handed to the interpreter one at a time.
//
// The conversion runs on a thread of its own, writing one line per
// sequence into a sink that cuts its output into records and hands them
// over in batches through a short queue: memory holds a few batches and
// the record being read, whatever the size of the input.
#ifndef QUENBREL_PYTHON_RECORDS_H
#define QUENBREL_PYTHON_RECORDS_H

// Sizes of "#" formats are Py_ssize_t.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/bytes.h"

namespace host {

// Bytes appended in chunks of a fixed size: a record of any length grows
// without being copied again, and the chunks of a batch the reader is done
// with serve the next ones, their memory already mapped.
class ChunkedBytes {
 public:
  static constexpr size_t kChunk = size_t{1} << 20;
  // Taken from malloc() as it is: the bytes are written before they are
  // read, and clearing them first would touch every page twice.
  struct Free {
    void operator()(char* p) const { std::free(p); }
  };
  using Chunk = std::unique_ptr<char[], Free>;

  size_t size() const { return size_; }
  // What the chunks it holds take before it needs another.
  size_t room() const { return chunks_.size() * kChunk - size_; }
  // Appends `n` bytes, taking new chunks from `spares` while it has any;
  // false when memory for a new one ran out.
  bool append(const char* p, size_t n, std::vector<Chunk>& spares);
  // Appends `n` bytes that fit the room left.
  void appendInPlace(const char* p, size_t n) {
    std::memcpy(chunks_.back().get() + (size_ - (chunks_.size() - 1) * kChunk), p, n);
    size_ += n;
  }
  // The `n` bytes at `at` where they lie in one chunk, else null.
  const char* contiguous(size_t at, size_t n) const;
  // Copies the `n` bytes at `at` to `to`.
  void copy(size_t at, size_t n, char* to) const;
  // Moves the bytes from `at` on to the end of `to`; the chunks left empty
  // go to `spares`, where `to` takes its new ones from. False as append().
  bool moveTail(size_t at, ChunkedBytes& to, std::vector<Chunk>& spares);
  // Hands the chunks to `spares`, at most `keep` there in all; empties.
  void release(std::vector<Chunk>& spares, size_t keep);

 private:
  std::vector<Chunk> chunks_;
  size_t size_ = 0;
};

// Records, one after the other in `bytes`: each one's header (without its
// '>'), then its residues.
struct RecordBatch {
  struct Span {
    size_t at;  // where the header begins in `bytes`
    size_t headerLength;
    size_t sequenceLength;
  };
  ChunkedBytes bytes;
  std::vector<Span> spans;
};

// The batches from the run to the interpreter: at most kSlots wait, and the
// end comes with the run's status and message. The chunks of the batches
// the reader is done with come back for the run's next ones.
class BatchQueue {
 public:
  static constexpr size_t kSlots = 4;
  // The spare chunks kept: what the batches in flight hold, about.
  static constexpr size_t kSpareChunks = 2 * kSlots + 2;

  // Waits for a free slot; false when the reader has closed the queue.
  bool push(RecordBatch&& batch);
  // The run ended with `status` and `message`.
  void end(int status, std::string message);
  // The reader is gone: a push waiting or to come fails.
  void close();

  enum class Popped { kBatch, kEnded, kTimedOut };
  // The next batch into `batch`, or the end (`status`, `message`), waiting
  // at most `ms` milliseconds.
  Popped pop(RecordBatch& batch, int ms, int& status, std::string& message);

  // Whether the reader waits for a batch: one with any records in it is
  // better handed over now than filled.
  bool readerWaits() const { return readerWaits_.load(std::memory_order_relaxed); }

  // The reader is done with `used`: its chunks and its list of records are
  // kept for the run.
  void giveBack(RecordBatch& used);
  // Moves the chunks kept into `spares`.
  void takeSpares(std::vector<ChunkedBytes::Chunk>& spares);
  // A list of records kept, emptied, into `spans`, when there is one.
  void takeSpans(std::vector<RecordBatch::Span>& spans);

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<RecordBatch> batches_;
  std::vector<ChunkedBytes::Chunk> spares_;
  std::vector<std::vector<RecordBatch::Span>> spareSpans_;
  std::atomic<bool> readerWaits_{false};
  bool ended_ = false;
  bool closed_ = false;
  int status_ = 0;
  std::string message_;
};

// Cuts the converter's output, one line per sequence, into records: a line
// that begins with '>' is a header, any other line holds residues of the
// record it follows (an empty sequence may leave an empty line). Batches of
// about kBatchBytes go to the queue as each fills, or at the end of a block
// of output when the reader waits (a slow input), or when the reader has
// waited a while for nothing (the block came just before it began to
// wait, and the run now waits for input); a record is never split.
// Only a complete output hands over the record it ends with: a run cut
// short may have cut it short.
class RecordSink final : public Sink {
 public:
  static constexpr size_t kBatchBytes = size_t{1} << 20;
  // The longest record under way that moves to a batch of its own when the
  // reader waits.
  static constexpr size_t kMoveMax = size_t{64} << 10;

  explicit RecordSink(BatchQueue& queue) : queue_(queue) {}
  bool write(const unsigned char* p, size_t n) override;
  bool finish(Ending ending) override;
  // From the reader's thread, when it has waited a while for nothing:
  // hands over the complete records, unless the run is writing (it then
  // hands them over itself).
  void handOverIdle();
  // Whether the records outgrew the memory there is: the run ended as after
  // a write failure.
  bool outOfMemory() const { return outOfMemory_; }

 private:
  bool handOver();
  // The complete records to the queue, the record under way moved to the
  // next batch, unless it is too long to move.
  void handOverComplete();
  void append(const unsigned char* p, size_t n);
  void markOutOfMemory();

  BatchQueue& queue_;
  // Held by the run while it writes, and by the reader while it hands over.
  std::mutex lock_;
  RecordBatch batch_;
  std::vector<ChunkedBytes::Chunk> spares_;
  RecordBatch::Span record_{};
  bool haveRecord_ = false;
  bool lineStart_ = true;
  bool inHeader_ = false;
  bool closed_ = false;
  bool outOfMemory_ = false;
};

// Adds the iterator type to `module`, and returns it (a borrowed
// reference); null with the error set.
PyObject* addRecordIteratorType(PyObject* module);

// A new iterator of `type` over the records of `src` (a path as bytes, or
// a binary file object); null with the error set.
PyObject* newRecordIterator(PyObject* type, PyObject* src, bool upper, bool dropN, bool binary);

}  // namespace host

#endif  // QUENBREL_PYTHON_RECORDS_H

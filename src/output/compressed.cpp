// SPDX-License-Identifier: MIT
// The compressing sink: plain bytes cut into chunks, each compressed on
// its own by a worker of the pool, written back in order.
#include "output/compressed.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "common/pool.h"
#include "output/bgzf.h"
#include "output/index.h"

#ifndef QUENBREL_HAVE_ZSTD
// Never asked for: zstd output is refused before any sink is made.
bool zstdOutputBuilt() { return false; }
std::unique_ptr<PoolTask> zstdTask(int) { return nullptr; }
size_t zstdChunk() { return 1; }
size_t zstdBound() { return 1; }
#endif

namespace {

// A format's chunks and what it writes at the end.
struct ChunkFormat {
  size_t chunk;  // plain bytes per job
  size_t bound;  // compressed bytes a job may take
  // Written after the last job of a complete output: BGZF's end-of-file
  // member.
  const unsigned char* trailer;
  size_t trailerLen;
  // Written after the last job of an output cut short by a failure, where
  // the format has no end marker to leave out: zstd's frame magic alone, a
  // frame begun and never finished, which every reader reports as cut short
  // after delivering all that came before.
  const unsigned char* cutShort;
  size_t cutShortLen;
  // A job of empty data when there was no output at all, for formats
  // whose empty file is not valid.
  bool emptyJob;
};

class CompressedSink final : public Sink {
 public:
  CompressedSink(std::unique_ptr<Sink> file, std::vector<std::unique_ptr<PoolTask>> tasks,
                 size_t slots, const ChunkFormat& format, OutputIndex* index)
      : file_(std::move(file)),
        pool_(std::move(tasks), slots, format.chunk, format.bound),
        format_(format),
        index_(index) {}

  bool write(const unsigned char* p, size_t n) override;
  bool finish(Ending ending) override;

 private:
  bool takeOne();
  bool writeMark(const unsigned char* p, size_t n) { return n == 0 || file_->write(p, n); }

  std::unique_ptr<Sink> file_;
  OrderedPool pool_;
  const ChunkFormat format_;
  OutputIndex* index_;

  PoolJob* job_ = nullptr;  // the job being filled
  bool anyJob_ = false;
  bool failed_ = false;
  uint64_t compressed_ = 0;  // bytes written to the file
  uint64_t plain_ = 0;       // plain bytes they hold
};

// Writes the oldest job's result; false when there was none.
bool CompressedSink::takeOne() {
  PoolJob* done = pool_.take();
  if (done == nullptr) return false;
  if (!done->ok) failed_ = true;
  if (!failed_) {
    if (index_ != nullptr && compressed_ > 0) index_->block(compressed_, plain_);
    if (!file_->write(done->out.get(), done->outLen)) failed_ = true;
    compressed_ += done->outLen;
    plain_ += done->inLen;
  }
  pool_.release();
  return true;
}

bool CompressedSink::write(const unsigned char* p, size_t n) {
  while (n > 0 && !failed_) {
    if (job_ == nullptr) {
      while ((job_ = pool_.fill()) == nullptr) takeOne();
    }
    size_t k = std::min(n, format_.chunk - job_->inLen);
    std::memcpy(job_->in.get() + job_->inLen, p, k);
    job_->inLen += k;
    p += k;
    n -= k;
    if (job_->inLen == format_.chunk) {
      pool_.submit();
      anyJob_ = true;
      job_ = nullptr;
    }
  }
  return !failed_;
}

// What was converted before a failure is written too; only a complete
// output gets the format's end (and an empty one its empty job), so that
// the end of a cut-short file shows it. An untouched output, which was
// given nothing, gets nothing at all.
bool CompressedSink::finish(Ending ending) {
  bool complete = ending == Ending::kComplete;
  if (complete && !failed_ && job_ == nullptr && !anyJob_ && format_.emptyJob) {
    while ((job_ = pool_.fill()) == nullptr) takeOne();
  }
  // A job is only taken to be filled, so it holds data, or it is that empty
  // job.
  if (job_ != nullptr && !failed_) pool_.submit();
  job_ = nullptr;
  while (takeOne()) {
  }
  if (!failed_ && ending != Ending::kUntouched &&
      !(complete ? writeMark(format_.trailer, format_.trailerLen)
                 : writeMark(format_.cutShort, format_.cutShortLen)))
    failed_ = true;
  if (!file_->finish(ending)) failed_ = true;
  return !failed_;
}

}  // namespace

namespace {

std::vector<std::unique_ptr<PoolTask>> tasksOf(int threads, std::unique_ptr<PoolTask> (*task)(int),
                                               int level) {
  size_t workers = threads < 1 ? 1 : static_cast<size_t>(threads);
  std::vector<std::unique_ptr<PoolTask>> tasks;
  tasks.reserve(workers);
  for (size_t i = 0; i < workers; ++i) tasks.push_back(task(level));
  return tasks;
}

}  // namespace

std::unique_ptr<Sink> makeBgzfSink(std::unique_ptr<Sink> file, int level, int threads,
                                   OutputIndex* index) {
  std::vector<std::unique_ptr<PoolTask>> tasks = tasksOf(threads, bgzfTask, level);
  // Members are small: enough of them in flight that no worker waits.
  const ChunkFormat bgzf{kBgzfChunk, kBgzfMemberMax, kBgzfEof, sizeof kBgzfEof, nullptr, 0, false};
  size_t slots = 4 * tasks.size() + 4;
  return std::make_unique<CompressedSink>(std::move(file), std::move(tasks), slots, bgzf, index);
}

std::unique_ptr<Sink> makeZstdSink(std::unique_ptr<Sink> file, int level, int threads,
                                   OutputIndex*) {
  std::vector<std::unique_ptr<PoolTask>> tasks = tasksOf(threads, zstdTask, level);
  // zstd chunks are large: one running per worker and one being filled;
  // the oldest is written as soon as it is done.
  static const unsigned char kZstdMagic[4] = {0x28, 0xb5, 0x2f, 0xfd};
  const ChunkFormat zstd{zstdChunk(), zstdBound(), nullptr, 0, kZstdMagic, sizeof kZstdMagic, true};
  size_t slots = tasks.size() + 1;
  return std::make_unique<CompressedSink>(std::move(file), std::move(tasks), slots, zstd, nullptr);
}

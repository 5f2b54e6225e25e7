// SPDX-License-Identifier: MIT
// The compressing sink: plain bytes cut into chunks, each compressed on
// its own by a worker of the pool, written back in order.
#include "compressed.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "bgzf.h"
#include "index.h"
#include "pool.h"

// zstd's workers, chunk and bound (zstd_out.cpp, where libzstd is built in).
std::unique_ptr<PoolTask> zstdTask(int level);
size_t zstdChunk();
size_t zstdBound();

#ifndef QUENBREL_HAVE_ZSTD
// Never asked for: zstd output is refused before any sink is made.
bool zstdOutputBuilt() { return false; }
std::unique_ptr<PoolTask> zstdTask(int) { return nullptr; }
size_t zstdChunk() { return 1; }
size_t zstdBound() { return 1; }
#endif

namespace {

class CompressedSink final : public Sink {
 public:
  // `chunk` plain bytes per job, at most `bound` compressed. `trailer` is
  // written after the last job; `emptyJob` makes a job of empty data when
  // there was no output at all, for formats whose empty file is not valid.
  CompressedSink(std::unique_ptr<Sink> file, std::vector<std::unique_ptr<PoolTask>> tasks,
                 size_t slots, size_t chunk, size_t bound, const unsigned char* trailer,
                 size_t trailerLen, bool emptyJob, OutputIndex* index)
      : file_(std::move(file)),
        pool_(std::move(tasks), slots, chunk, bound),
        chunk_(chunk),
        trailer_(trailer),
        trailerLen_(trailerLen),
        emptyJob_(emptyJob),
        index_(index) {}

  bool write(const unsigned char* p, size_t n) override;
  bool finish() override;

 private:
  bool takeOne();

  std::unique_ptr<Sink> file_;
  OrderedPool pool_;
  const size_t chunk_;
  const unsigned char* trailer_;
  const size_t trailerLen_;
  const bool emptyJob_;
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
    size_t k = std::min(n, chunk_ - job_->inLen);
    std::memcpy(job_->in.get() + job_->inLen, p, k);
    job_->inLen += k;
    p += k;
    n -= k;
    if (job_->inLen == chunk_) {
      pool_.submit();
      anyJob_ = true;
      job_ = nullptr;
    }
  }
  return !failed_;
}

bool CompressedSink::finish() {
  if (!failed_ && job_ == nullptr && !anyJob_ && emptyJob_) {
    while ((job_ = pool_.fill()) == nullptr) takeOne();
  }
  if (job_ != nullptr && !failed_ && (job_->inLen > 0 || !anyJob_)) pool_.submit();
  job_ = nullptr;
  while (takeOne()) {
  }
  if (!failed_ && trailerLen_ > 0 && !file_->write(trailer_, trailerLen_)) failed_ = true;
  if (!file_->finish()) failed_ = true;
  return !failed_;
}

}  // namespace

std::unique_ptr<Sink> makeOutputSink(FILE* F, OutputFormat format, int level, int threads,
                                     OutputIndex* index) {
  std::unique_ptr<Sink> file(new FileSink(F));
  if (format == OutputFormat::kPlain) return file;
  size_t workers = threads < 1 ? 1 : static_cast<size_t>(threads);
  std::vector<std::unique_ptr<PoolTask>> tasks;
  tasks.reserve(workers);
  for (size_t i = 0; i < workers; ++i) {
    tasks.push_back(format == OutputFormat::kBgzf ? bgzfTask(level) : zstdTask(level));
  }
  if (format == OutputFormat::kBgzf) {
    // Members are small: enough of them in flight that no worker waits.
    return std::unique_ptr<Sink>(new CompressedSink(std::move(file), std::move(tasks),
                                                    4 * workers + 4, kBgzfChunk, kBgzfMemberMax,
                                                    kBgzfEof, sizeof kBgzfEof, false, index));
  }
  // zstd chunks are large: one running per worker and one being filled;
  // the oldest is written as soon as it is done.
  return std::unique_ptr<Sink>(new CompressedSink(std::move(file), std::move(tasks), workers + 1,
                                                  zstdChunk(), zstdBound(), nullptr, 0, true,
                                                  nullptr));
}

// SPDX-License-Identifier: MIT
// BGZF input decoded on a pool of workers. Every BGZF member says its own
// size, so members are cut from the stream without inflating them and
// inflated side by side, each checked (CRC-32 and length) and delivered in
// order. Whatever is not a well-formed BGZF member (a plain gzip member,
// bytes that form no member, a stream cut short, a member that does not
// inflate) is handed, from there on, to the streaming gzip decoder, which
// reads it or reports it as damage exactly as for any gzip input.
#include <cstdint>
#include <cstring>
#include <string>

#include "common/bgzf_format.h"
#include "common/pool.h"
#include "input/decoders.h"
#include "input/member_inflate.h"

namespace {

constexpr size_t kMemberMax = kBgzfMemberMax;
constexpr size_t kHeaderSize = kBgzfHeaderSize;
constexpr size_t kStageCap = 4 * kMemberMax;
// Members per job: the workers wake and report once per job, and each time
// costs system calls; a few members make it rare.
constexpr size_t kMembersPerJob = 4;

// Inflates the members of a job, each checked.
class InflateTask : public PoolTask {
 public:
  // The job's members, one after another.
  bool run(PoolJob& job) override {
    job.outLen = 0;
    for (size_t at = 0; at < job.inLen;) {
      size_t size = bgzfMemberSize(job.in.get() + at);
      if (size == 0 || size > job.inLen - at) return false;
      size_t made = 0;
      if (!inflateMember(job.in.get() + at, size, job.out.get() + job.outLen, made)) return false;
      job.outLen += made;
      at += size;
    }
    return true;
  }

 private:
  // Inflates the member of `size` bytes at `in` into `out`.
  bool inflateMember(const unsigned char* in, size_t size, unsigned char* out, size_t& made) {
    if (size < kHeaderSize + kBgzfTrailerSize) return false;
    uint32_t crc = readLe32(in + size - 8), length = readLe32(in + size - 4);
    if (length > kMemberMax) return false;
    made = length;
    return inflater_->inflate(in + kHeaderSize, size - kHeaderSize - kBgzfTrailerSize, out, length,
                              crc);
  }

  std::unique_ptr<MemberInflater> inflater_ = makeMemberInflater();
};

std::vector<std::unique_ptr<PoolTask>> inflateTasks(int threads) {
  std::vector<std::unique_ptr<PoolTask>> tasks;
  tasks.reserve(static_cast<size_t>(threads));
  for (int i = 0; i < threads; ++i) tasks.push_back(std::make_unique<InflateTask>());
  return tasks;
}

class BgzfSource : public InputSource {
 public:
  BgzfSource(ByteSource& in, const unsigned char* head, size_t n, int threads,
             DecoderOpener streaming)
      : in_(in),
        streaming_(streaming),
        stage_(new unsigned char[n > kStageCap ? n : kStageCap]),
        stageCap_(n > kStageCap ? n : kStageCap),
        pool_(inflateTasks(threads), 2 * static_cast<size_t>(threads) + 2,
              kMembersPerJob * kMemberMax, kMembersPerJob * kMemberMax) {
    std::memcpy(stage_.get(), head, n);
    end_ = n;
  }

  long read(unsigned char* buf, size_t cap) override;
  std::string message() const override {
    return rest_ ? rest_->message() : std::string(kReadFailedMessage);
  }
  // Every byte the workers deliver comes from a member checked whole.
  UnitProgress progress() const override { return rest_ ? rest_->progress() : UnitProgress{}; }

 private:
  enum class Stop { kNone, kEnd, kFailed, kOther };
  bool haveBytes(size_t n);
  Stop nextMember(size_t& size);
  void submitMore();
  void handOver();

  ByteSource& in_;
  DecoderOpener streaming_;
  std::unique_ptr<unsigned char[]> stage_;  // compressed bytes read, not yet handed out
  size_t stageCap_;
  size_t start_ = 0, end_ = 0;
  bool eof_ = false;
  OrderedPool pool_;
  Stop stop_ = Stop::kNone;  // why no further member is submitted
  PoolJob* current_ = nullptr;
  size_t delivered_ = 0;  // of the current job's output
  std::unique_ptr<InputSource> rest_;
  bool failed_ = false;
};

// Whether `n` bytes from start_ are staged, reading more as needed; false
// at the end of the stream (or on a read error, then stop_ says so).
bool BgzfSource::haveBytes(size_t n) {
  while (end_ - start_ < n) {
    if (eof_) return false;
    if (start_ > 0) {
      std::memmove(stage_.get(), stage_.get() + start_, end_ - start_);
      end_ -= start_;
      start_ = 0;
    }
    long got = in_.read(stage_.get() + end_, stageCap_ - end_);
    if (got < 0) {
      stop_ = Stop::kFailed;
      return false;
    }
    if (got == 0) eof_ = true;
    end_ += static_cast<size_t>(got);
  }
  return true;
}

BgzfSource::Stop BgzfSource::nextMember(size_t& size) {
  if (!haveBytes(1)) return stop_ == Stop::kFailed ? Stop::kFailed : Stop::kEnd;
  if (!haveBytes(kHeaderSize)) return stop_ == Stop::kFailed ? Stop::kFailed : Stop::kOther;
  size = bgzfMemberSize(stage_.get() + start_);
  if (size < kHeaderSize + 8 + 2) return Stop::kOther;
  if (!haveBytes(size)) return stop_ == Stop::kFailed ? Stop::kFailed : Stop::kOther;
  if (readLe32(stage_.get() + start_ + size - 4) > kMemberMax) return Stop::kOther;
  return Stop::kNone;
}

// Cuts members from the stream into the free slots of the pool, a few to
// a job.
void BgzfSource::submitMore() {
  PoolJob* job;
  while (stop_ == Stop::kNone && (job = pool_.fill()) != nullptr) {
    for (size_t k = 0; k < kMembersPerJob && stop_ == Stop::kNone; ++k) {
      size_t size = 0;
      Stop s = nextMember(size);
      if (s != Stop::kNone) {
        stop_ = s;
        break;
      }
      std::memcpy(job->in.get() + job->inLen, stage_.get() + start_, size);
      job->inLen += size;
      start_ += size;
    }
    if (job->inLen > 0) pool_.submit();
  }
}

// A member that did not inflate as BGZF may still be sound gzip (a size
// field that lies is no damage to a gzip reader): the streaming decoder
// reads the stream from that member on, and judges it. The members taken
// from the stream after it come back in order.
void BgzfSource::handOver() {
  std::string rest(reinterpret_cast<const char*>(current_->in.get()), current_->inLen);
  pool_.release();
  current_ = nullptr;
  while (PoolJob* later = pool_.take()) {
    rest.append(reinterpret_cast<const char*>(later->in.get()), later->inLen);
    pool_.release();
  }
  if (stop_ == Stop::kFailed) {
    failed_ = true;
    return;
  }
  rest.append(reinterpret_cast<const char*>(stage_.get() + start_), end_ - start_);
  rest_ =
      streaming_(in_, reinterpret_cast<const unsigned char*>(rest.data()), rest.size(), kStageCap);
  stage_.reset();
}

long BgzfSource::read(unsigned char* buf, size_t cap) {
  if (failed_) return -1;
  if (rest_) return rest_->read(buf, cap);
  size_t got = 0;
  while (got < cap) {
    if (current_ == nullptr) {
      submitMore();
      current_ = pool_.take();
      delivered_ = 0;
      if (current_ == nullptr) {
        // Every member has been delivered; what follows decides.
        if (got > 0) break;
        if (stop_ == Stop::kEnd) return 0;
        if (stop_ == Stop::kFailed) {
          failed_ = true;
          return -1;
        }
        rest_ = streaming_(in_, stage_.get() + start_, end_ - start_, kStageCap);
        stage_.reset();
        return rest_->read(buf, cap);
      }
      if (!current_->ok) {
        handOver();
        if (got > 0) break;  // output before it goes first
        return failed_ ? -1 : rest_->read(buf, cap);
      }
    }
    size_t k = current_->outLen - delivered_;
    if (k > cap - got) k = cap - got;
    std::memcpy(buf + got, current_->out.get() + delivered_, k);
    got += k;
    delivered_ += k;
    if (delivered_ == current_->outLen) {
      pool_.release();
      current_ = nullptr;
    }
  }
  return static_cast<long>(got);
}

}  // namespace

bool looksLikeBgzf(const unsigned char* head, size_t n) {
  return n >= kHeaderSize && bgzfMemberSize(head) >= kHeaderSize + 8 + 2;
}

std::unique_ptr<InputSource> openBgzf(ByteSource& in, const unsigned char* head, size_t n,
                                      int threads, DecoderOpener streaming) {
  return std::make_unique<BgzfSource>(in, head, n, threads, streaming);
}

// SPDX-License-Identifier: MIT
// An ordered pool of workers: jobs are handed in one after another, run on
// the workers' threads in any order, and handed back in the order they came
// in. A fixed ring of job slots bounds the memory: when every slot is busy,
// the caller takes back the oldest job before filling another.
//
// One caller thread fills, submits and takes jobs; the workers only run
// them. Nobody spins: workers wait for a queued job, the caller for the
// oldest job to be done.
#ifndef QUENBREL_COMMON_POOL_H
#define QUENBREL_COMMON_POOL_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// One unit of work: bytes in, bytes out, and whether the work succeeded.
struct PoolJob {
  std::unique_ptr<unsigned char[]> in;
  size_t inLen = 0;
  std::unique_ptr<unsigned char[]> out;
  size_t outLen = 0;
  bool ok = true;
};

// What a worker does to a job. Each worker has its own, so it may keep
// state (a compressor's tables) from job to job.
class PoolTask {
 public:
  virtual ~PoolTask() = default;
  // Reads job.in[0, inLen), writes job.out and outLen; false on failure.
  virtual bool run(PoolJob& job) = 0;
};

class OrderedPool {
 public:
  // One worker per task. With a single task no thread is started: jobs run
  // on the caller's thread as they are submitted. Each of the `slots` jobs
  // gets buffers of `inCap` and `outCap` bytes.
  OrderedPool(std::vector<std::unique_ptr<PoolTask>> tasks, size_t slots, size_t inCap,
              size_t outCap);
  ~OrderedPool();
  OrderedPool(const OrderedPool&) = delete;
  OrderedPool& operator=(const OrderedPool&) = delete;

  // The job to fill next, or null when every slot holds a job not yet
  // taken back (take one back first).
  PoolJob* fill();
  // Queues the job fill() gave.
  void submit();
  // The oldest job submitted and not yet taken back, once it is done; null
  // when there is none. Waits while it runs.
  PoolJob* take();
  // Frees the slot of the job take() gave.
  void release();

 private:
  struct Slot {
    PoolJob job;
    bool done = false;
  };
  void work(PoolTask* task);
  Slot& slot(uint64_t k) { return slots_[k % slots_.size()]; }

  std::vector<std::unique_ptr<PoolTask>> tasks_;
  std::vector<Slot> slots_;
  std::mutex mutex_;
  std::condition_variable queued_;  // a job was submitted, or the pool stops
  std::condition_variable done_;    // a job is done
  // Jobs counted from the start: submitted, started by a worker, taken back.
  uint64_t submitted_ = 0;
  uint64_t started_ = 0;
  uint64_t taken_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

#endif  // QUENBREL_COMMON_POOL_H

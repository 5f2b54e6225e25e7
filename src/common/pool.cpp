// SPDX-License-Identifier: MIT
// The ordered pool of workers.
#include "common/pool.h"

#include <utility>

OrderedPool::OrderedPool(std::vector<std::unique_ptr<PoolTask>> tasks, size_t slots, size_t inCap,
                         size_t outCap)
    : tasks_(std::move(tasks)), slots_(slots < 1 ? 1 : slots) {
  for (Slot& s : slots_) {
    s.job.in.reset(new unsigned char[inCap]);
    s.job.out.reset(new unsigned char[outCap]);
  }
  if (tasks_.size() > 1) {
    threads_.reserve(tasks_.size());
    for (std::unique_ptr<PoolTask>& t : tasks_)
      threads_.emplace_back(&OrderedPool::work, this, t.get());
  }
}

// Jobs still queued when the pool is destroyed are dropped: the caller has
// given up on them.
OrderedPool::~OrderedPool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void OrderedPool::work(PoolTask* task) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return stopping_ || started_ < submitted_; });
    if (stopping_) return;
    Slot& s = slot(started_++);
    lock.unlock();
    s.job.ok = task->run(s.job);
    lock.lock();
    s.done = true;
    done_.notify_one();
  }
}

PoolJob* OrderedPool::fill() {
  // Only the caller's thread moves submitted_ and taken_.
  if (submitted_ - taken_ >= slots_.size()) return nullptr;
  Slot& s = slot(submitted_);
  s.job.inLen = 0;
  s.job.outLen = 0;
  s.job.ok = true;
  return &s.job;
}

void OrderedPool::submit() {
  if (threads_.empty()) {
    Slot& s = slot(submitted_);
    s.job.ok = tasks_.front()->run(s.job);
    s.done = true;
    ++submitted_;
    ++started_;
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++submitted_;
  }
  queued_.notify_one();
}

PoolJob* OrderedPool::take() {
  if (taken_ == submitted_) return nullptr;
  std::unique_lock<std::mutex> lock(mutex_);
  Slot& s = slot(taken_);
  done_.wait(lock, [&s] { return s.done; });
  return &s.job;
}

void OrderedPool::release() {
  std::lock_guard<std::mutex> lock(mutex_);
  slot(taken_).done = false;
  ++taken_;
}

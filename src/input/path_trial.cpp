// SPDX-License-Identifier: MIT
// Timing the two paths of input.
#include "input/path_trial.h"

namespace {

// The thread is kept only where it is clearly faster: it costs a second
// processor's time, and stretches this short swing by a few percent from
// one to the next. Where it overlaps the work it saves the converting's
// share: a tenth of a gzip or zstd run, more of a plain file's.
constexpr double kThreadGain = 0.95;

}  // namespace

// Whether the stretch ends with this block: `skip` blocks are let by, the
// next one starts the clock, and the bytes of the blocks after it are
// timed until trialBlocks of them were.
bool PathTrial::stretchEnded(size_t skip, long n, long ahead) {
  ++seen_;
  if (seen_ <= skip) return false;
  if (seen_ == skip + 1) {
    from_ = Clock::now();
    bytes_ = 0;
    aheadAtStart_ = ahead;
    return false;
  }
  bytes_ += static_cast<double>(n);
  if (seen_ <= skip + choice_.trialBlocks) return false;
  bytes_ += static_cast<double>(ahead - aheadAtStart_);
  return true;
}

PathTrial::Step PathTrial::count(long n, long ahead) {
  // The end of the input, or its failure, ends the trial where it stands.
  if (n <= 0) return Step::kGoOn;
  if (!threaded_) {
    // The first blocks decoded touch the decoder's memory (its window, its
    // tables) for the first time, which the machine may make dear: they are
    // let by, so that the thread, timed later, is not favoured.
    if (!stretchEnded(2 * choice_.trialBlocks, n, 0)) return Step::kGoOn;
    std::chrono::duration<double> took = Clock::now() - from_;
    ownSeconds_ = took.count() / bytes_;
    threaded_ = true;
    seen_ = 0;
    return Step::kStartThread;
  }
  if (!stretchEnded(skip_, n, ahead)) return Step::kGoOn;
  std::chrono::duration<double> took = Clock::now() - from_;
  switch (choice_.verdict) {
    case InputPathChoice::Verdict::kThread: return Step::kKeepThread;
    case InputPathChoice::Verdict::kOwnThread: return Step::kDropThread;
    case InputPathChoice::Verdict::kTimed: break;
  }
  bool faster = bytes_ > 0 && took.count() / bytes_ < kThreadGain * ownSeconds_;
  return faster ? Step::kKeepThread : Step::kDropThread;
}

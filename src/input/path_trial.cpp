// SPDX-License-Identifier: MIT
// Timing the two paths of input.
#include "input/path_trial.h"

// Whether the stretch ends with this block: `skip` blocks are let by, the
// next one starts the clock, and the bytes of the blocks after it are
// timed until trialBlocks of them were.
bool PathTrial::stretchEnded(size_t skip, long n) {
  ++seen_;
  if (seen_ <= skip) return false;
  if (seen_ == skip + 1) {
    from_ = Clock::now();
    bytes_ = 0;
    return false;
  }
  bytes_ += static_cast<double>(n);
  return seen_ > skip + choice_.trialBlocks;
}

PathTrial::Step PathTrial::count(long n) {
  // The end of the input, or its failure, ends the trial where it stands.
  if (n <= 0) return Step::kGoOn;
  if (!threaded_) {
    // The first blocks decoded touch the decoder's memory (its window, its
    // tables) for the first time, which the machine may make dear: they are
    // let by, so that the thread, timed later, is not favoured.
    if (!stretchEnded(2 * choice_.trialBlocks, n)) return Step::kGoOn;
    std::chrono::duration<double> took = Clock::now() - from_;
    ownSeconds_ = took.count() / bytes_;
    threaded_ = true;
    seen_ = 0;
    return Step::kStartThread;
  }
  if (!stretchEnded(skip_, n)) return Step::kGoOn;
  std::chrono::duration<double> took = Clock::now() - from_;
  switch (choice_.verdict) {
    case InputPathChoice::Verdict::kThread: return Step::kKeepThread;
    case InputPathChoice::Verdict::kOwnThread: return Step::kDropThread;
    case InputPathChoice::Verdict::kTimed: break;
  }
  return took.count() / bytes_ < ownSeconds_ ? Step::kKeepThread : Step::kDropThread;
}

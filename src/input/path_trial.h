// SPDX-License-Identifier: MIT
// Choosing, by timing, whether input is read (or decoded) on a thread of its
// own. The thread takes the reading off the engine's thread, but on some
// machines it costs that thread as much again (two processors that share a
// core, a host that slows one while the other runs), and the two paths then
// come out the same, or the thread's slower. So a stretch of blocks is timed
// on the engine's thread alone, a stretch with the thread, and the thread
// goes on only where it was clearly faster.
#ifndef QUENBREL_INPUT_PATH_TRIAL_H
#define QUENBREL_INPUT_PATH_TRIAL_H

#include <chrono>
#include <cstddef>

// How input with two threads chooses its path. Tests fix the verdict to
// take each path, and each switch, at a block of their choosing.
struct InputPathChoice {
  enum class Verdict {
    kTimed,      // the faster of the two stretches
    kThread,     // the thread, whatever the times
    kOwnThread,  // back to the engine's thread after the thread's stretch
  };
  // Blocks timed on each path (after twice as many let by); 0 starts the
  // thread at once, untimed.
  size_t trialBlocks = 24;
  Verdict verdict = Verdict::kTimed;
};

class PathTrial {
 public:
  enum class Step {
    kGoOn,         // nothing to change
    kStartThread,  // the engine's own stretch is timed: start the thread
    kKeepThread,   // the thread's path goes on; the trial is over
    kDropThread,   // back to the engine's thread; the trial is over
  };

  // `skipAfterStart`: blocks the thread may take to settle (its first
  // fills) before its stretch is timed.
  PathTrial(const InputPathChoice& choice, size_t skipAfterStart)
      : choice_(choice), skip_(skipAfterStart) {}

  // Counts a block of `n` bytes handed to the engine, with `ahead` bytes
  // read ahead of it and waiting. The time from one block to the next is
  // the engine's for the one and the reading of the next, so that the
  // stretches compare whole paths. What waited when the thread's stretch
  // began was read before it, and what waits at its end within it: the
  // stretch is credited with what was read in it, so that a ring filled
  // beforehand does not make the thread look faster than it keeps up.
  Step count(long n, long ahead);

 private:
  using Clock = std::chrono::steady_clock;

  bool stretchEnded(size_t skip, long n, long ahead);

  const InputPathChoice choice_;
  const size_t skip_;
  bool threaded_ = false;  // the thread's stretch is being timed
  size_t seen_ = 0;        // blocks of this stretch, skipped ones included
  Clock::time_point from_;
  double bytes_ = 0;
  long aheadAtStart_ = 0;
  double ownSeconds_ = 0;  // the engine's own stretch, per byte
};

#endif  // QUENBREL_INPUT_PATH_TRIAL_H

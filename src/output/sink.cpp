// SPDX-License-Identifier: MIT
// The stage that holds the output back.
#include "output/sink.h"

bool BeginningSink::begin() {
  if (state_ == State::kWaiting) state_ = begin_() ? State::kBegun : State::kFailed;
  return state_ == State::kBegun;
}

bool BeginningSink::finish(Ending ending) {
  bool begun = state_ == State::kBegun;
  return inner_->finish(begun ? ending : Ending::kUntouched) && state_ != State::kFailed;
}

// SPDX-License-Identifier: MIT
// The plain output stream.
#include "output/sink.h"

bool FileSink::write(const unsigned char* p, size_t n) {
  if (!failed_ && n > 0 && std::fwrite(p, 1, n, F_) != n) failed_ = true;
  return !failed_;
}

bool FileSink::finish(Ending) {
  if (F_ == nullptr) return !failed_;
  if (F_ == stdout) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) failed_ = true;
  } else if (std::fclose(F_) != 0) {
    failed_ = true;
  }
  F_ = nullptr;
  return !failed_;
}

bool BeginningSink::begin() {
  if (state_ == State::kWaiting) state_ = begin_() ? State::kBegun : State::kFailed;
  return state_ == State::kBegun;
}

bool BeginningSink::finish(Ending ending) {
  bool begun = state_ == State::kBegun;
  return inner_->finish(begun ? ending : Ending::kUntouched) && state_ != State::kFailed;
}

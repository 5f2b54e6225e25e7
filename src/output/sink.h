// SPDX-License-Identifier: MIT
// The stages of the output chain that stand in front of its backend (the
// Sink of common/bytes.h, where the bytes end): the one that holds the
// output back until the run begins it. The compressors and the index's
// observer are in compressed.h and index.h.
#ifndef QUENBREL_OUTPUT_SINK_H
#define QUENBREL_OUTPUT_SINK_H

#include <cstddef>
#include <functional>
#include <memory>
#include <utility>

#include "common/bytes.h"

// Holds the output back until the run begins it: `begin` (which empties an
// earlier file, say) runs once, at begin() or before the first byte reaches
// `inner`. An output never begun is finished untouched: nothing is written
// to it, not even a format's marks. When `begin` fails, nothing reaches
// `inner` and the failure is a write failure. It stands in front of the
// chain, where the engine's begin() arrives.
class BeginningSink final : public Sink {
 public:
  BeginningSink(std::unique_ptr<Sink> inner, std::function<bool()> begin)
      : inner_(std::move(inner)), begin_(std::move(begin)) {}

  bool write(const unsigned char* p, size_t n) override { return begin() && inner_->write(p, n); }
  bool begin() override;
  bool finish(Ending ending) override;

 private:
  std::unique_ptr<Sink> inner_;
  std::function<bool()> begin_;
  enum class State { kWaiting, kBegun, kFailed } state_ = State::kWaiting;
};

#endif  // QUENBREL_OUTPUT_SINK_H

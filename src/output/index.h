// SPDX-License-Identifier: MIT
// The index files of a named output: OUT.fai for every output and, for
// BGZF output, OUT.gzi (where each member after the first begins, in
// compressed and in plain bytes). Both are written under temporary names
// beside the output while it is written, and get their names only when the
// whole run succeeded: after a failure no index describes the output.
#ifndef QUENBREL_OUTPUT_INDEX_H
#define QUENBREL_OUTPUT_INDEX_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "faidx.h"
#include "sink.h"

class OutputIndex {
 public:
  OutputIndex() = default;
  ~OutputIndex();
  OutputIndex(const OutputIndex&) = delete;
  OutputIndex& operator=(const OutputIndex&) = delete;

  // Creates the temporary files for the output `outName`, with OUT.gzi when
  // `gzi`. False when one cannot be created; message() then says which.
  bool open(const std::string& outName, bool gzi);

  // The plain output bytes, in order.
  void feed(const unsigned char* p, size_t n) { fai_->feed(p, n); }
  // A BGZF member other than the first begins at `compressed` in the file
  // and at `plain` in the plain bytes.
  void block(uint64_t compressed, uint64_t plain);

  // Completes both files and gives them their names. False when anything
  // failed; message() names the index file.
  bool commit();
  // Removes the temporary files, and index files left from an earlier
  // output of the same name, which no longer describe it.
  void discard();

  const std::string& message() const { return message_; }

 private:
  struct File {
    std::string name;  // the final name
    std::string temp;
    FILE* F = nullptr;
    bool failed = false;
  };
  bool create(File& f, const std::string& name);
  bool fail(const File& f);
  bool close(File& f);

  File fai_file_;
  File gzi_file_;
  bool gzi_ = false;
  bool opened_ = false;
  uint64_t entries_ = 0;
  std::unique_ptr<FaidxBuilder> fai_;
  std::string message_;
};

// Passes the output to `inner` and shows every byte to the index on the way.
class IndexingSink final : public Sink {
 public:
  IndexingSink(std::unique_ptr<Sink> inner, OutputIndex& index)
      : inner_(std::move(inner)), index_(index) {}
  bool write(const unsigned char* p, size_t n) override {
    index_.feed(p, n);
    return inner_->write(p, n);
  }
  bool finish() override { return inner_->finish(); }

 private:
  std::unique_ptr<Sink> inner_;
  OutputIndex& index_;
};

#endif  // QUENBREL_OUTPUT_INDEX_H

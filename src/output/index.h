// SPDX-License-Identifier: MIT
// The index files of a named output: OUT.fai for every output and, for
// BGZF output, OUT.gzi (where each member after the first begins, in
// compressed and in plain bytes). Both are written under temporary names
// beside the output while it is written, and get their names only when the
// whole run succeeded: after a failure no index describes the output. The
// temporary files are created before the output is opened, so that an
// index that cannot be written is known before the output is touched.
#ifndef QUENBREL_OUTPUT_INDEX_H
#define QUENBREL_OUTPUT_INDEX_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "output/faidx.h"
#include "output/sink.h"

class OutputIndex {
 public:
  OutputIndex() = default;
  ~OutputIndex();
  OutputIndex(const OutputIndex&) = delete;
  OutputIndex& operator=(const OutputIndex&) = delete;

  // Creates the temporary files for the output `outName`, with OUT.gzi when
  // `gzi`; nothing of an earlier output is touched. False when one cannot
  // be created, or its final name cannot be given (a folder of that name, a
  // name too long for the file system); message() then says which.
  bool open(const std::string& outName, bool gzi);

  // The plain output bytes, in order; nothing before open() succeeded.
  void feed(const unsigned char* p, size_t n) {
    if (fai_) fai_->feed(p, n);
  }
  // A BGZF member other than the first begins at `compressed` in the file
  // and at `plain` in the plain bytes.
  void block(uint64_t compressed, uint64_t plain);

  // Completes both files and gives them their names. False when anything
  // failed; message() names the index file.
  bool commit();
  // Removes the temporary files.
  void discard();

  const std::string& message() const { return message_; }

 private:
  struct File {
    std::string name;  // the final name
    std::string temp;
    FILE* F = nullptr;
    bool failed = false;
    int guard = -1;  // the temporary file's ticket with the signal handler
  };
  bool create(File& f, const std::string& name);
  bool fail(const File& f);
  bool close(File& f);
  bool rename(File& f);
  static void removeTemp(File& f);

  File faiFile_;
  File gziFile_;
  bool gzi_ = false;
  bool opened_ = false;
  uint64_t entries_ = 0;
  std::unique_ptr<FaidxBuilder> fai_;
  std::string message_;
};

// The names of the index files of the output `outName`: OUT.fai, and
// OUT.gzi for BGZF output.
std::string faiName(const std::string& outName);
std::string gziName(const std::string& outName);

// Removes the index files of an earlier output named `outName`, which no
// longer describe the output once it is rewritten, but for one that is the
// file open as `keepFd` (the input).
void removeStaleIndex(const std::string& outName, int keepFd);

// Passes the output to `inner` and shows every byte to the index on the way.
class IndexingSink final : public Sink {
 public:
  IndexingSink(std::unique_ptr<Sink> inner, OutputIndex& index)
      : inner_(std::move(inner)), index_(index) {}
  bool write(const unsigned char* p, size_t n) override {
    index_.feed(p, n);
    return inner_->write(p, n);
  }
  bool finish(Ending ending) override { return inner_->finish(ending); }

 private:
  std::unique_ptr<Sink> inner_;
  OutputIndex& index_;
};

#endif  // QUENBREL_OUTPUT_INDEX_H

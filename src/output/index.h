// SPDX-License-Identifier: MIT
// The files that describe a named output: the index OUT.fai (plain and
// BGZF output), OUT.gzi (BGZF output: where each member after the first
// begins, in compressed and in plain bytes) and the sequence dictionary
// (dictName()). They are written under temporary names beside the output
// while it is written, and get their names only when the whole run
// succeeded: after a failure none of them describes the output. The
// temporary files are created before the output is opened, so that a file
// that cannot be written is known before the output is touched.
#ifndef QUENBREL_OUTPUT_INDEX_H
#define QUENBREL_OUTPUT_INDEX_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/platform.h"
#include "output/dictionary.h"
#include "output/faidx.h"
#include "output/names.h"
#include "output/sink.h"

// Which of the files a run writes.
struct IndexFiles {
  bool fai = false;
  bool gzi = false;
  bool dict = false;
};

class OutputIndex {
 public:
  OutputIndex() = default;
  ~OutputIndex();
  OutputIndex(const OutputIndex&) = delete;
  OutputIndex& operator=(const OutputIndex&) = delete;

  // Creates the temporary files of `files` for the output `outName`;
  // nothing of an earlier output is touched. False when one cannot be
  // created, or its final name cannot be given (a folder of that name, a
  // name too long for the file system); message() then says which. The
  // dictionary's digests run on a thread of their own when `threads` is
  // two or more.
  bool open(const std::string& outName, const IndexFiles& files, int threads);
  // The output is open under `outName`: the dictionary names the file it
  // is (links resolved), and may begin.
  void outputOpened(const std::string& outName);

  // The plain output bytes, in order; nothing before open() succeeded.
  void feed(const unsigned char* p, size_t n) {
    if (fai_) fai_->feed(p, n);
    if (dict_) dict_->feed(p, n);
  }
  // A BGZF member other than the first begins at `compressed` in the file
  // and at `plain` in the plain bytes.
  void block(uint64_t compressed, uint64_t plain);

  // Completes the files and gives them their names. False when anything
  // failed; message() names the file.
  bool commit();
  // Removes the temporary files.
  void discard();

  const std::string& message() const { return message_; }
  // After commit(): hands `each` a line for each name that more than one
  // record has, which the index lists only once and tools that read a
  // dictionary refuse, and, in a run with the dictionary, for an empty
  // name; a line at a time, since there may be as many as records.
  void warnings(const std::function<void(const std::string& line)>& each) const;

 private:
  struct File {
    explicit File(const char* kind) : what(kind) {}
    const char* what;  // "index" or "dictionary", for the message
    std::string name;  // the final name
    platform::AtomicFile file;
    bool failed = false;
  };
  bool create(File& f, const std::string& name);
  bool fail(const File& f);
  bool close(File& f);
  bool settleNames();
  bool settleIndexFile(RepeatedNames& repeated);
  bool readDictionaryFile(RepeatedNames& repeated);

  File faiFile_{"index"};
  File gziFile_{"index"};
  File dictFile_{"dictionary"};
  IndexFiles files_;
  int threads_ = 1;
  bool opened_ = false;
  uint64_t entries_ = 0;
  std::unique_ptr<FaidxBuilder> fai_;
  std::unique_ptr<DictionaryBuilder> dict_;
  NameLog names_;  // logged by the index's builder, else the dictionary's
  std::unique_ptr<RepeatedNames> repeated_;
  bool emptyName_ = false;  // one record has an empty name
  std::string message_;
};

// The names of the files that describe the output `outName`: OUT.fai,
// OUT.gzi for BGZF output, and the dictionary, named as the tools that read
// it look for it: a reference extension they know (.fasta, .fas, .fa, .fna,
// .txt, each also with .gz after it) replaced by ".dict", else ".dict"
// appended.
std::string faiName(const std::string& outName);
std::string gziName(const std::string& outName);
std::string dictName(const std::string& outName);

// What an existing dictionary describes, read from the UR: fields of its
// @SQ lines.
struct DictionaryOwner {
  enum State {
    kAbsent,      // there is no file of the name
    kThisOutput,  // every UR: names the output
    kOther,       // a UR: names another file: `uri`
    kUnnamed,     // a line has no UR:, or the file lists no sequence
    kNoSequence,  // nothing but @HD lines: what an empty output gets
    kUnreadable,  // not a regular file, or it cannot be read
  };
  State state = kAbsent;
  std::string uri;
};
DictionaryOwner describedBy(const std::string& dictPath, const std::string& outName);

// The files that describe an earlier output named `outName`: they describe
// bytes that are gone once it is rewritten, and samtools and GATK would use
// them. Settled before the output is opened, removed once it is.
class StaleFiles {
 public:
  // Finds OUT.fai, OUT.gzi and a dictionary of the name that describes the
  // output; `written` are the files this run writes, and `keep` the
  // input, which is never removed. False, with message(), when one of them
  // cannot be removed (a read-only folder, a sticky one where it is another
  // user's), or when the run would write a dictionary over one that
  // describes another file.
  bool settle(const std::string& outName, const IndexFiles& written, const platform::FileId& keep);
  // Removes what settle() found; false, with message(), when one could not
  // be removed.
  bool remove();
  const std::string& message() const { return message_; }

 private:
  struct Stale {
    std::string name;
    const char* what;  // "index" or "dictionary", for the message
  };
  bool dictionaryGoes(const std::string& name, const std::string& outName, bool written);

  std::vector<Stale> stale_;
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
  bool finish(Ending ending) override { return inner_->finish(ending); }

 private:
  std::unique_ptr<Sink> inner_;
  OutputIndex& index_;
};

#endif  // QUENBREL_OUTPUT_INDEX_H

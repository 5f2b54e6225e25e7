// SPDX-License-Identifier: MIT
// The sequence dictionary of the output, built from the output bytes as
// they pass: "@HD\tVN:1.0\tSO:unsorted\n", then one line per record,
// "@SQ\tSN:NAME\tLN:LENGTH\tM5:MD5\tUR:file://PATH\n", as samtools dict
// writes it for the same file:
// - NAME is the header's first word by the index's rules (blanks after ">"
//   skipped, a NUL ends it), so that the dictionary and the .fai name every
//   record alike.
// - LENGTH counts the residues: every byte of the lines after the header
//   but their line ends (the engine writes only residues there).
// - MD5 is the digest of the residues in upper case.
// - Every record gets a line: one without residues with length 0, one with
//   a name seen before again.
//
// The digests are the costly part. Given a thread of its own, the builder
// copies the bytes into a small ring of blocks and digests them there, in
// order, while the caller goes on converting and compressing.
#ifndef QUENBREL_OUTPUT_DICTIONARY_H
#define QUENBREL_OUTPUT_DICTIONARY_H

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "output/faidx.h"
#include "output/md5.h"
#include "output/names.h"

// Writes the lines from what the output holds: records as they begin, and
// their residues, upper-cased, in between.
class DictionaryWriter {
 public:
  // Lines go to `F`; `url` follows "UR:" on each; every name goes to
  // `names` unless null.
  DictionaryWriter(FILE* F, std::string url, NameLog* names);

  // A record named `name` begins; the one before, if any, ends.
  void begin(std::string_view name);
  // Residues of the record begun last, already in upper case.
  void residues(const unsigned char* p, size_t n);
  // The last record's line; false when any line or digest failed.
  bool end();

 private:
  void endRecord();
  void writeLines();

  FILE* F_;
  std::string url_;
  NameLog* names_;
  bool failed_ = false;
  Md5 md5_;
  bool inRecord_ = false;
  std::string name_;
  uint64_t length_ = 0;
  std::string line_;  // lines not yet written
};

// Tells `names` every record of a dictionary read from `listing` (as the
// writer wrote it), in order. False when reading failed.
bool readDictionaryNames(FILE* listing, RepeatedNames& names);

// Splits the output bytes into records and their residues: `to` hears of
// each record as its header line ends, by to.begin(name), and gets the
// bytes of its residue lines without their line ends, by
// to.residues(p, n), as they are (not yet upper-cased).
class ResidueParser {
 public:
  template <typename Receiver>
  void feed(const unsigned char* p, size_t n, Receiver& to);
  // The end of the output: a header cut short still begins its record.
  template <typename Receiver>
  void end(Receiver& to) {
    if (at_ == At::kHeader) to.begin(header_.name());
    at_ = At::kLineStart;
  }

 private:
  enum class At { kLineStart, kHeader, kResidues };
  At at_ = At::kLineStart;
  bool inRecord_ = false;  // residues before the first header are no record's
  HeaderLine header_;
};

// Copies `n` bytes from `p` to `out` with a to z made upper case.
void copyUpper(const unsigned char* p, size_t n, unsigned char* out);

// The dictionary built on the caller's thread as the bytes come.
class DictionaryLines {
 public:
  DictionaryLines(FILE* F, std::string url, NameLog* names = nullptr);
  void feed(const unsigned char* p, size_t n) { parser_.feed(p, n, *this); }
  bool end();

  // What the parser hands over.
  void begin(std::string_view name);
  void residues(const unsigned char* p, size_t n);

 private:
  void digestPending();

  ResidueParser parser_;
  DictionaryWriter writer_;
  // Upper-cased residues gathered for one call of the digest: a call per
  // line would cost more than the digest of its 60 bytes.
  std::unique_ptr<unsigned char[]> pending_;
  size_t pendingLen_ = 0;
};

class DictionaryBuilder {
 public:
  // Lines to `F`, UR:`url`, names to `names` unless null; digested on a
  // thread of its own when `ownThread`, else on the caller's as the bytes
  // come.
  DictionaryBuilder(FILE* F, std::string url, bool ownThread, NameLog* names = nullptr);
  // Stops the thread, if any, without waiting for what it has not read.
  ~DictionaryBuilder();
  DictionaryBuilder(const DictionaryBuilder&) = delete;
  DictionaryBuilder& operator=(const DictionaryBuilder&) = delete;

  void feed(const unsigned char* p, size_t n);
  // Every byte fed read, the last line written: false when anything failed.
  bool end();

  // What the parser hands over, on the caller's thread: residues are
  // upper-cased into the block being filled, records marked in it.
  void begin(std::string_view name);
  void residues(const unsigned char* p, size_t n);

 private:
  static constexpr size_t kSlots = 4;
  static constexpr size_t kBlock = size_t{256} * 1024;
  static constexpr size_t kMarks = 16384;  // records a block holds at most

  // A record that begins where `at` residues of the block were filled; its
  // name ends at `nameEnd` in the block's names, where the one before ends
  // it begins (no allocation a record).
  struct Mark {
    size_t at;
    size_t nameEnd;
  };

  void hand();
  void digest();
  void digestBlock(size_t slot);

  // Only one of the two is set: the lines on the caller's thread, or the
  // parser here and the writer on the thread.
  std::unique_ptr<DictionaryLines> inline_;
  ResidueParser parser_;
  std::unique_ptr<DictionaryWriter> writer_;

  std::unique_ptr<unsigned char[]> memory_;  // kSlots blocks
  size_t sizes_[kSlots] = {};
  std::vector<Mark> marks_[kSlots];
  std::string names_[kSlots];
  size_t filling_ = 0;  // bytes in the block being filled

  std::mutex mutex_;
  std::condition_variable handed_;  // a block was handed over, or the end came
  std::condition_variable freed_;   // the thread is done with a block
  uint64_t handedCount_ = 0;        // blocks handed over since the start
  uint64_t doneCount_ = 0;          // blocks the thread is done with
  bool ending_ = false;             // no more blocks come
  bool stop_ = false;               // leave what is left
  std::thread thread_;
};

template <typename Receiver>
void ResidueParser::feed(const unsigned char* p, size_t n, Receiver& to) {
  const unsigned char* const end = p + n;
  while (p < end) {
    if (at_ == At::kLineStart) {
      if (*p == '>') {
        header_.start();
        at_ = At::kHeader;
        ++p;
        continue;
      }
      at_ = At::kResidues;
    }
    if (at_ == At::kHeader) {
      p = header_.read(p, end);
      if (!header_.ended()) continue;
      to.begin(header_.name());
      inRecord_ = true;
      at_ = At::kLineStart;
      continue;
    }
    const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
    const unsigned char* q = lf ? static_cast<const unsigned char*>(lf) : end;
    if (inRecord_ && q > p) to.residues(p, static_cast<size_t>(q - p));
    p = q;
    if (lf != nullptr) {
      ++p;
      at_ = At::kLineStart;
    }
  }
}

#endif  // QUENBREL_OUTPUT_DICTIONARY_H

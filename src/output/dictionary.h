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
//   a name seen before again (duplicates() lists such names).
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
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

#include "output/faidx.h"
#include "output/md5.h"

// Reads the output bytes: headers, residues, digests, and writes the lines.
class DictionaryLines {
 public:
  // Lines go to `F`; `url` follows "UR:" on each.
  DictionaryLines(FILE* F, std::string url);

  void feed(const unsigned char* p, size_t n);
  // The last record's line; false when any line or digest failed.
  bool end();

  // The names that more than one record has, in the order their second
  // record came.
  const std::vector<std::string>& duplicates() const { return duplicates_; }

 private:
  enum class At { kLineStart, kHeader, kResidues };
  const unsigned char* residues(const unsigned char* p, const unsigned char* end);
  void digestPending();
  void endRecord();

  FILE* F_;
  std::string url_;
  bool failed_ = false;
  At at_ = At::kLineStart;
  Md5 md5_;

  bool inRecord_ = false;
  HeaderLine header_;
  uint64_t length_ = 0;
  // Upper-cased residues gathered for one call of the digest.
  std::unique_ptr<unsigned char[]> pending_;
  size_t pendingLen_ = 0;

  std::unordered_set<std::string> names_;
  std::unordered_set<std::string> duplicateSet_;
  std::vector<std::string> duplicates_;
};

class DictionaryBuilder {
 public:
  // Lines to `F`, UR:`url`; on a thread of its own when `ownThread`, else
  // on the caller's as the bytes come.
  DictionaryBuilder(FILE* F, std::string url, bool ownThread);
  // Stops the thread, if any, without waiting for what it has not read.
  ~DictionaryBuilder();
  DictionaryBuilder(const DictionaryBuilder&) = delete;
  DictionaryBuilder& operator=(const DictionaryBuilder&) = delete;

  void feed(const unsigned char* p, size_t n);
  // Every byte fed read, the last line written: false when anything failed.
  bool end();
  // Valid after end().
  const std::vector<std::string>& duplicates() const { return lines_.duplicates(); }

 private:
  static constexpr size_t kSlots = 4;
  static constexpr size_t kBlock = size_t{256} * 1024;

  void hand();
  void digest();
  void stop();

  DictionaryLines lines_;
  std::unique_ptr<unsigned char[]> memory_;  // kSlots blocks
  size_t sizes_[kSlots] = {};
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

#endif  // QUENBREL_OUTPUT_DICTIONARY_H

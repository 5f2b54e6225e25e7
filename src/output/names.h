// SPDX-License-Identifier: MIT
// The names of the output's records, for the index and the dictionary: a
// name that several records have is listed in the index only once (the
// first record of that name with residues), and is warned of.
//
// Memory must not grow with the records, so the run keeps one 64-bit hash
// per record, no name. At the end, only the hashes that more than one
// record has are candidates; the file that lists every record (the index's
// listing, or the dictionary) is read once more, and the names of the
// candidates are compared byte for byte there. Two names with the same
// hash are thereby told apart: what the files hold never depends on the
// hash.
#ifndef QUENBREL_OUTPUT_NAMES_H
#define QUENBREL_OUTPUT_NAMES_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

uint64_t nameHash(std::string_view name);
using NameHash = uint64_t (*)(std::string_view name);

// The hash of every record's name, in fixed-size chunks (no copy as it
// grows, 8 bytes a record).
class NameLog {
 public:
  // `hash` only for tests, which make names collide.
  explicit NameLog(NameHash hash = nameHash) : hash_(hash) {}
  void add(std::string_view name, bool residues);
  uint64_t withoutResidues() const { return withoutResidues_; }
  uint64_t emptyNames() const { return emptyNames_; }
  // The hashes that more than one record has, sorted, each once. The log's
  // hashes are given up on the way, so that they are never held twice.
  std::vector<uint64_t> takeRepeatedHashes();

 private:
  static constexpr size_t kChunk = 8192;
  NameHash hash_;
  std::vector<std::unique_ptr<uint64_t[]>> chunks_;
  uint64_t records_ = 0;
  uint64_t withoutResidues_ = 0;
  uint64_t emptyNames_ = 0;
};

// Which record of a repeated name the index lists.
enum class IndexLists {
  kFirst,        // its first record
  kLaterRecord,  // a later one, the first with residues
  kNone,         // none: no record of the name has residues
};

struct RepeatedName {
  std::string name;
  IndexLists index;
};

// Tells, record by record in the output's order, which records the index
// lists, and gathers the names that several records have.
class RepeatedNames {
 public:
  // `candidates`: NameLog::takeRepeatedHashes(), of a log with the same
  // `hash`.
  explicit RepeatedNames(std::vector<uint64_t> candidates, NameHash hash = nameHash);
  // The next record: true when the index lists it (it has residues, and no
  // earlier record of its name had).
  bool next(std::string_view name, bool residues);
  // The names of more than one record, in the order their second record
  // came: how many, and each.
  size_t count() const { return order_.size(); }
  RepeatedName at(size_t i) const;

 private:
  static constexpr uint32_t kNone = UINT32_MAX;
  // One name among the candidates; its bytes are names_ from nameAt to the
  // next one's nameAt.
  struct Seen {
    size_t nameAt;
    uint32_t next;  // another name of the same hash, or kNone
    bool firstResidues;
    bool anyResidues;
    bool repeated;
  };
  std::string_view nameOf(uint32_t seen) const;

  NameHash hash_;
  std::vector<uint64_t> candidates_;
  std::vector<uint32_t> firstSeen_;  // per candidate: its first name, or kNone
  std::vector<Seen> seen_;
  std::string names_;
  std::vector<uint32_t> order_;  // the repeated names, by their second record
};

// Reads a file's lines from where it stands, whatever their length.
class LineReader {
 public:
  explicit LineReader(FILE* F) : F_(F), buffer_(new char[kBuffer]) {}
  // The next line, without its line end; false at the end or on a failed
  // read (failed() tells).
  bool next(std::string_view& line);
  bool failed() const { return failed_; }

 private:
  static constexpr size_t kBuffer = size_t{64} * 1024;
  FILE* F_;
  std::unique_ptr<char[]> buffer_;
  size_t at_ = 0;
  size_t end_ = 0;
  std::string long_;  // a line longer than what the buffer holds
  bool failed_ = false;
};

// The bytes of lines a builder gathers before it writes them.
constexpr size_t kLines = size_t{64} * 1024;

// Appends the decimal digits of `n`.
void appendNumber(std::string& to, uint64_t n);

#endif  // QUENBREL_OUTPUT_NAMES_H

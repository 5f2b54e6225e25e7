// SPDX-License-Identifier: MIT
// The 2bit output: every record packed four bases to a byte (T, C, A, G as
// 0 to 3, the first base in the high bits), with its blocks of N and of
// lower case (the soft mask) beside the bases, and, first in the file, the
// index of the records' names and where each begins. The names are the
// headers' first words, as the index of FASTA output takes them.
//
// The index needs every record's size, so the packed bases are held as they
// pass (in memory up to kMemoryMax bytes, a genome of 4 Gbases; beyond that
// all of them in a scratch file beside the output), and the output is
// written whole at finish(), through a temporary file that gets the
// output's name only when all went well: a run that fails, is refused or is
// ended by a signal leaves an earlier file of the name as it was.
//
// Letters other than A, C, G, T and N are written as N (lower case ones as
// a masked n), and so is a "-": the format has no other letter. They are
// counted for a warning.
#ifndef QUENBREL_OUTPUT_TWOBIT_H
#define QUENBREL_OUTPUT_TWOBIT_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "common/bytes.h"
#include "common/platform.h"
#include "output/dictionary.h"

class TwoBitSink final : public Sink {
 public:
  // A file of more bytes than this gets 64-bit offsets in its index
  // (version 1 of the format); tests lower it.
  static constexpr uint64_t kLongFrom = uint64_t{1} << 32;
  static constexpr uint64_t kMemoryMax = uint64_t{1} << 30;
  static constexpr size_t kNameMax = 255;

  // Large enough that the system backs a chunk of packed bases with large
  // pages where it can: touching fresh memory costs more than filling it.
  static constexpr size_t kChunk = size_t{32} << 20;

  // `memoryMax`: the packed bytes held in memory before they go to the
  // scratch file, in chunks of `chunk` bytes (at least 2); tests lower both.
  explicit TwoBitSink(uint64_t longFrom = kLongFrom, uint64_t memoryMax = kMemoryMax,
                      size_t chunk = kChunk)
      : longFrom_(longFrom), memoryMax_(memoryMax), chunkBytes_(chunk) {}

  // Creates the temporary files for the output `outName`; false when one
  // cannot be created, or the name cannot be given at the end, or there is
  // no memory for the first chunk.
  bool open(const std::string& outName);
  // Runs just before the output gets its name; its false is a write
  // failure, and the output then keeps none.
  void beforeCommit(std::function<bool()> each) { beforeCommit_ = std::move(each); }

  bool write(const unsigned char* p, size_t n) override;
  bool finish(Ending ending) override;

  // Why the records cannot be written as 2bit (a name, a length), the run's
  // message; empty when they can.
  const std::string& refusal() const { return refusal_; }
  // The residues written as N that were not N.
  uint64_t writtenAsN() const { return writtenAsN_; }

 private:
  struct Chunk {
    platform::LargeMemory bytes;
    size_t used = 0;
  };

  // What the file holds of a record besides its name and packed bases.
  struct Record {
    uint32_t length;
    uint32_t nBlocks;
    uint32_t maskBlocks;
    uint64_t bytes() const {
      return 16 + 8 * (uint64_t{nBlocks} + maskBlocks) + (length + 3ull) / 4;
    }
  };

  // What the parser of the output hands over: a record begins, and bytes
  // of its residue lines.
  struct Receiver {
    TwoBitSink& sink;
    void begin(std::string_view name) { sink.nextRecord(name); }
    void residues(const unsigned char* p, size_t n) { sink.residues(p, n); }
  };
  void nextRecord(std::string_view name);
  void residues(const unsigned char* p, size_t n);
  void startRecord(std::string_view name);
  bool endRecord();
  void pack(const unsigned char* p, const unsigned char* end);
  size_t packWords(const unsigned char* p, size_t words);
  void packSlowly(const unsigned char* p, const unsigned char* end);
  void changeRuns(unsigned state);
  void closeRun(unsigned bit);
  void putByte(unsigned char b) {
    if (chunk_.used == chunkBytes_) nextChunk();
    chunk_.bytes.get()[chunk_.used++] = b;
  }
  Chunk newChunk() const;
  void nextChunk();
  bool spill(const unsigned char* p, size_t n);
  bool copyPacked(std::FILE* to, uint64_t n, std::FILE* from, std::vector<unsigned char>& buffer);
  bool assemble();
  bool refuse(std::string why);

  uint64_t longFrom_;
  uint64_t memoryMax_;
  size_t chunkBytes_;
  std::function<bool()> beforeCommit_;
  platform::AtomicFile out_;
  platform::AtomicFile scratch_;
  bool failed_ = false;
  std::string refusal_;

  ResidueParser parser_;
  bool inRecord_ = false;

  // The record under way.
  uint64_t length_ = 0;
  unsigned partial_ = 0;  // the bases of a byte not yet full
  unsigned state_ = 0;    // N and lower case of the last base
  uint64_t runStart_[2] = {0, 0};
  std::vector<uint32_t> runs_[2];  // starts and sizes of its N, then lower case

  // The packed bases of every record, in order: full chunks, then the one
  // being filled; once spilled, the full ones are in the scratch file.
  std::vector<Chunk> chunks_;
  Chunk chunk_;
  bool spilled_ = false;
  size_t chunkAt_ = 0;  // where the copy at the end has come to
  size_t copied_ = 0;

  // Every record, its name once, and the starts and sizes of its blocks.
  std::vector<Record> records_;
  std::deque<std::string> names_;
  std::unordered_set<std::string_view> seen_;
  std::vector<uint32_t> blocks_;
  uint64_t writtenAsN_ = 0;
};

#endif  // QUENBREL_OUTPUT_TWOBIT_H

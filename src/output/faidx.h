// SPDX-License-Identifier: MIT
// The FASTA index of the output, built from the output bytes as they pass:
// one line per record, "NAME\tLENGTH\tOFFSET\tLINEBASES\tLINEWIDTH\n", with
// the rules samtools follows, so that its index of the same file is the
// same bytes:
// - NAME is the header's first word (blanks after ">" skipped; a NUL ends
//   it); it may be empty.
// - OFFSET is where the first residue line begins, counted in plain bytes
//   (for compressed output too); an empty line right after the header moves
//   it along.
// - LINEBASES and LINEWIDTH are the residues and the bytes (line end
//   included) of the first residue line.
// - A record without residues gets no line and does not count as a name;
//   of records with the same name only the first gets a line.
//
// The builder writes a listing with a line for every record (length 0 for
// one without residues) and logs each name; settleIndex() makes the index
// from it at the end, once the names that repeat are known.
//
// The engine writes only residues (letters and "-") on the lines after a
// header, every line as wide as the first but the last of a record, so a
// line's residues are its bytes, and the record's length follows from the
// bytes between its first residue line and the next header: the builder
// searches for line ends only in headers and first residue lines.
#ifndef QUENBREL_OUTPUT_FAIDX_H
#define QUENBREL_OUTPUT_FAIDX_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "output/names.h"

// Reads a header line after its ">", in pieces as they come, for the name
// the index gives the record: blanks after ">" skipped, then up to the next
// blank or the line end; a NUL ends it. The rest of the line is skipped in
// one search, since headers may be long.
class HeaderLine {
 public:
  // A header begins (its ">" was read).
  void start();
  // Reads header bytes from `p`: where the line ended, after its line end,
  // or `end` when it goes on.
  const unsigned char* read(const unsigned char* p, const unsigned char* end);
  // Whether the line end was read.
  bool ended() const { return at_ == At::kEnded; }
  const std::string& name() const { return name_; }

 private:
  enum class At { kBlanks, kName, kRest, kEnded };
  At at_ = At::kEnded;
  std::string name_;
  bool nameCut_ = false;  // a NUL ended the name
};

class FaidxBuilder {
 public:
  // Listing lines go to `F` as their records end; every name to `names`.
  FaidxBuilder(FILE* F, NameLog& names) : F_(F), names_(names) {}

  void feed(const unsigned char* p, size_t n);
  // The end of the output: the last record's line. False when writing a
  // line failed.
  bool end();

 private:
  enum class At {
    kLineStart,  // at the start of a line
    kHeader,     // in a header line
    kFirstLine,  // in the first residue line of a record
    kRest,       // in the residue lines after it
  };
  void endRecord();
  void writeLines();

  FILE* F_;
  NameLog& names_;
  std::string line_;  // lines not yet written
  bool failed_ = false;
  At at_ = At::kLineStart;
  uint64_t pos_ = 0;  // plain bytes fed so far

  // The record being read.
  bool inRecord_ = false;
  bool firstLine_ = true;  // no residue line yet
  HeaderLine header_;
  uint64_t offset_ = 0;
  uint64_t length_ = 0;
  uint64_t lineBases_ = 0;
  uint64_t rest_ = 0;  // bytes of the residue lines after the first
};

// Copies the lines of the builder's listing, read from `listing`, that the
// index holds to `out`: those with residues, each the first of its name
// that has (`names`, in the listing's order, tells). False when reading or
// writing failed.
bool settleIndex(FILE* listing, FILE* out, RepeatedNames& names);

#endif  // QUENBREL_OUTPUT_FAIDX_H

// SPDX-License-Identifier: MIT
// The IG/FASTA to FASTA conversion engine: its settings, its result and its
// one entry point.
#ifndef QUENBREL_ENGINE_CONVERT_H
#define QUENBREL_ENGINE_CONVERT_H

#include <cstdio>
#include <string>

namespace kernels {
struct Kernel;
}

class Sink;

// Run statuses of the engine; the tool exits with them.
enum ConvertStatus {
  kConvertOk = 0,
  kConvertNotFormat = 3,  // first content line begins with neither ";" nor ">"
  kConvertNoContent = 4,  // no line longer than one character
  kConvertReadFailed = 10,
  kConvertWriteFailed = 20,
};

// What a conversion does: built once by the caller (the entry from the
// command line) and handed to the engine whole.
struct ConvertOptions {
  int lineLen = 70;        // residues per output line, at least 5
  bool dropN = false;      // drop the residues n and N
  bool upperCase = false;  // write residues in upper case
  bool oneLine = false;    // never break a sequence body
  // The packing kernel (from kernels::allKernels(), one the processor
  // runs); null: the widest this processor runs.
  const kernels::Kernel* kernel = nullptr;
  // Where the output goes instead of `out` (which is then left alone; the
  // sink is finished on every path); null: `out` itself, written as it is.
  Sink* sink = nullptr;
  // The threads that may inflate BGZF input (two or more).
  int threads = 1;
};

// How a conversion ended: its status, and the message to report for it
// (empty when there is none). The engine writes no message itself.
struct ConvertResult {
  int status = kConvertOk;
  std::string message;
};

// Converts the IG or FASTA records read from `in` into FASTA on `out`.
//
// The engine is done with both streams when it returns: it closes each one,
// but for the standard streams, which stay open (standard output flushed).
// A failure to flush or close the output is a write failure.
ConvertResult convert(FILE* in, FILE* out, const ConvertOptions& options);

#endif  // QUENBREL_ENGINE_CONVERT_H

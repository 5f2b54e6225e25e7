// SPDX-License-Identifier: MIT
// The IG/FASTA to FASTA conversion engine: its settings, its result and its
// one entry point.
#ifndef QUENBREL_ENGINE_CONVERT_H
#define QUENBREL_ENGINE_CONVERT_H

#include <string>

#include "input/path_trial.h"

namespace kernels {
struct Kernel;
}

class ByteSource;
class Sink;

// Run statuses of the engine; the tool exits with them, and with 10 and 20
// also for what is wrong with the command line's input and output side.
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
  int lineLen = 70;        // residues per output line, at least 5 (the run makes it so)
  bool dropN = false;      // drop the residues n and N
  bool upperCase = false;  // write residues in upper case
  bool oneLine = false;    // never break a sequence body
  // The packing kernel (from kernels::allKernels(), one the processor
  // runs); null: the widest this processor runs.
  const kernels::Kernel* kernel = nullptr;
  // The threads the input may use: with two or more, BGZF input is
  // inflated on that many workers, other compressed input is decoded, and a
  // plain file or pipe read, on a thread of its own. 1 starts no thread.
  int threads = 1;
  // How compressed input and plain files choose whether to take that
  // thread: by timing (tests fix the choice).
  InputPathChoice inputPath;
};

// The residues per line for `asked`: 4 or less means the default, 70.
int residuesPerLine(int asked);

// The residues per line that `-n TEXT` asks for, into `lineLen`, by that
// rule. False, and `lineLen` untouched, when TEXT does not begin with an
// integer that fits an int (the command line refuses it).
bool lineLenFromText(const char* text, int& lineLen);

// How a conversion ended: its status, and the message to report for it
// (empty when there is none). The engine writes no message itself.
struct ConvertResult {
  int status = kConvertOk;
  std::string message;
};

// Converts the IG or FASTA records read from `in` into FASTA written to
// `out` (a backend of the byte layer, or a chain of sinks in front of one:
// see output/plan.h).
//
// The engine is done with both when it returns: it closes `in`
// (ByteSource::close(): an owned descriptor is closed, standard input is
// not), and finishes `out` on every path, which ends its format and lets
// its backend go. A failure to finish the output is a write failure. `out` is begun
// (Sink::begin()) once the first content line has passed the format check,
// or the input proved empty; a run that fails before (status 3, a read
// failure) never begins it.
ConvertResult convert(ByteSource& in, Sink& out, const ConvertOptions& options);

#endif  // QUENBREL_ENGINE_CONVERT_H

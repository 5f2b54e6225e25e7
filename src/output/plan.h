// SPDX-License-Identifier: MIT
// What the output becomes, and the chain of sinks that makes it: plain or
// compressed, indexed or not. The rules live here, beside the sinks; the
// front end only says what was asked for.
#ifndef QUENBREL_OUTPUT_PLAN_H
#define QUENBREL_OUTPUT_PLAN_H

#include <memory>
#include <string>

#include "output/sink.h"

class OutputIndex;

enum class OutputFormat { kPlain, kBgzf, kZstd, kTwoBit };

// An output format: a row of the one table that the long options, the plan,
// the naming rules and the chain all read. A format not in it cannot be
// chosen.
struct OutputFormatRow {
  OutputFormat format;
  const char* name;             // as --compress=NAME names it, and messages
  const char* const* suffixes;  // output names ending so choose it; null ends them
  int levelMin;
  int levelMax;
  int levelDefault;
  // Whether --compress=NAME chooses it; a format that is no compression
  // of FASTA text is chosen by the output's name alone, whatever
  // --compress says.
  bool compression;
  // Whether the run writes it whole at the end, into a file of its own
  // (a format with a table of contents first): never to standard output,
  // and never described by --dict.
  bool whole;
  bool indexable;  // --index describes it with OUT.fai
  bool gzi;        // and with OUT.gzi
  // Whether this build has it (null: always), and the refusal when not.
  bool (*built)();
  const char* missing;
  // The sink that writes the format in front of the backend `file` on
  // `threads` workers, with BGZF block boundaries to `index` when given;
  // null: the plain bytes, `file` itself, or a format written whole.
  std::unique_ptr<Sink> (*sink)(std::unique_ptr<Sink> file, int level, int threads,
                                OutputIndex* index);
};

// The row of the format --compress=`name` names, or null.
const OutputFormatRow* outputFormatNamed(const char* name);
// The row of `format`.
const OutputFormatRow& outputFormatRow(OutputFormat format);

// A plain decimal number of at most four digits (no sign, no blank), as
// the numbers of the output's options are written; -1 when the text is
// none.
int smallNumber(const char* text);

// What was asked for, as given: null (or 0) where nothing was.
struct OutputRequest {
  const char* compress = nullptr;  // "gzip", "zstd" or "none"
  const char* level = nullptr;     // digits; the range depends on the format
  int threads = 0;                 // 0: one per processor this process may run on
  bool index = false;
  bool dict = false;
  int progress = 0;  // the command line's: -1 never, 0 on a terminal, 1 always
};

// What the output becomes.
struct OutputPlan {
  OutputFormat format = OutputFormat::kPlain;
  int level = 0;
  int threads = 1;
  bool index = false;
  bool dict = false;
  // Whether the output has files that describe it.
  bool described() const { return index || dict; }
};

// A plan, or why there is none: the message line, and whether the usage
// text follows it (not for a format that was not built in).
struct Planned {
  OutputPlan plan;
  std::string problem;
  bool withUsage = true;
  bool ok() const { return problem.empty(); }
};

// Settles the format (by `request`, else by the name of the output file
// `outName`, null for standard output), the level and the threads.
Planned planOutput(const OutputRequest& request, const char* outName);

// The sinks that write to the backend `file` as `plan` says: the plain
// bytes, or a compressor on the pool of workers in front of it; with
// `index` (opened, and given exactly when the plan has an index or a
// dictionary) shown every byte on the way.
std::unique_ptr<Sink> makeOutputChain(std::unique_ptr<Sink> file, const OutputPlan& plan,
                                      OutputIndex* index);

#endif  // QUENBREL_OUTPUT_PLAN_H

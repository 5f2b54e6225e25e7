// SPDX-License-Identifier: MIT
// One run of the conversion, as every front end asks for it (the command
// line, the page, a host language's module): what can be refused is
// settled before anything is touched, then the files that describe the
// output are prepared, the output opened, the records converted and the
// described files committed. Each front end reads its own arguments and
// binds its own streams; the order of the steps, and the rules and
// messages they share, are here.
#ifndef QUENBREL_ENGINE_RUN_H
#define QUENBREL_ENGINE_RUN_H

#include <functional>
#include <memory>
#include <string>

#include "common/bytes.h"
#include "common/platform.h"
#include "engine/convert.h"
#include "output/plan.h"

struct RunRequest {
  // Where the records come from, and the file that is, when it is one:
  // nothing the run writes may be it.
  ByteSource* input = nullptr;
  platform::FileId inputId;

  // The output's name: its format may follow from it, and the files that
  // describe it are named after it. Null for an output without one
  // (standard output).
  const char* outName = nullptr;
  // Where the output goes when the front end binds it (standard output,
  // the page, a host's file object), with the file it writes to when that
  // is known. Null: the run opens `outName` itself, and empties an earlier
  // file of the name only once the conversion begins its output.
  std::unique_ptr<Sink> out;
  platform::FileId outId;

  // Residues per line of 4 or less mean the default, 70, as `-n` reads
  // them (residuesPerLine()).
  ConvertOptions options;
  OutputRequest output;

  // Hands over each line of warning the run has for a successful output
  // (names that several records have), where the command line writes to
  // standard error; there may be as many as records.
  std::function<void(const std::string& line)> warn;
};

struct RunResult {
  int status = kConvertOk;
  // What to report, where the command line writes to standard error.
  std::string message;
  // A refusal of the command line: the usage text follows the message.
  bool withUsage = false;
  // Whether a named output began (an output that never began, input not in
  // the format, leaves an earlier file of the name as it was).
  bool outputBegun = false;
};

RunResult runConversion(RunRequest request);

#endif  // QUENBREL_ENGINE_RUN_H

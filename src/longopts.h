// SPDX-License-Identifier: MIT
// The long options of the tool (--compress, --level, --threads, --index),
// GNU style: "--name=value" or "--name value". They are taken out of the
// command line before the short options and the operands are matched, so
// that those keep their meaning.
#ifndef QUENBREL_LONGOPTS_H
#define QUENBREL_LONGOPTS_H

#include <string>

#include "output/compressed.h"

struct LongOptions {
  const char* compress = nullptr;  // the values as given, or null
  const char* level = nullptr;
  int threads = 0;  // 0: one per processor this process may run on
  bool index = false;
};

// Takes every long option, and its value when it stands apart, out of the
// null-terminated `argv`, keeping the other words in their order. A word of
// "--" and a letter that is no long option, a bad or missing value: false,
// with the message line in `problem` (the caller adds the usage text).
bool takeLongOptions(char** argv, LongOptions& options, std::string& problem);

// What the output becomes.
struct OutputPlan {
  OutputFormat format = OutputFormat::kPlain;
  int level = 0;
  int threads = 1;
  bool index = false;
};

// Settles the output's format (by `options`, else by the name of the output
// file `outName`, null for standard output), level and threads. False with
// the message line in `problem`; `withUsage` then says whether the usage
// text follows (not for a format that was not built in).
bool planOutput(const LongOptions& options, const char* outName, OutputPlan& plan,
                std::string& problem, bool& withUsage);

#endif  // QUENBREL_LONGOPTS_H

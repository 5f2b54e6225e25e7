// SPDX-License-Identifier: MIT
// The long options of the tool (--compress, --level, --threads, --index),
// GNU style: "--name=value" or "--name value". They are taken out of the
// command line before the short options and the operands are matched, so
// that those keep their meaning. One table says, for each, its name, what
// value it takes and how --help describes it; the parser and --help read it.
#ifndef QUENBREL_CLI_LONG_OPTIONS_H
#define QUENBREL_CLI_LONG_OPTIONS_H

#include <ostream>
#include <string>

#include "output/plan.h"

// The threads a run may ask for.
constexpr int kThreadsMax = 256;

enum class OptionValue { kNone, kRequired };

struct LongOption {
  const char* name;  // with its dashes
  OptionValue value;
  // Checks `value` (null for an option without one) and stores it; false
  // when it is no value of this option.
  bool (*take)(const char* value, OutputRequest& request);
  const char* help;  // the lines of --help, each ending in a line end
};

// The table, and its length.
const LongOption* longOptions();
size_t longOptionCount();

// What the command line asked for, or the message line of the first word
// refused (the caller adds the usage text).
struct TakenOptions {
  OutputRequest request;
  std::string problem;
  bool ok() const { return problem.empty(); }
};

// Takes every long option, and its value when it stands apart, out of the
// null-terminated `argv`, keeping the other words in their order. A word of
// "--" and a letter that is no long option, a bad or missing value: refused.
TakenOptions takeLongOptions(char** argv);

// Writes the description of the long options that --help adds after the
// usage text.
void longUsage(std::ostream& os);

#endif  // QUENBREL_CLI_LONG_OPTIONS_H

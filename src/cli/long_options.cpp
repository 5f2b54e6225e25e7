// SPDX-License-Identifier: MIT
// The long options: their table and the parser that reads it.
#include "cli/long_options.h"

#include <cctype>
#include <cstring>

namespace {

bool takeCompress(const char* value, OutputRequest& request) {
  if (outputFormatNamed(value) == nullptr) return false;
  request.compress = value;
  return true;
}

// The range depends on the format, settled with the output plan.
bool takeLevel(const char* value, OutputRequest& request) {
  if (smallNumber(value) < 0) return false;
  request.level = value;
  return true;
}

bool takeThreads(const char* value, OutputRequest& request) {
  int n = smallNumber(value);
  if (n < 1 || n > kThreadsMax) return false;
  request.threads = n;
  return true;
}

// An option without a value that turns `flag` on.
bool takeSwitch(const char* value, bool& flag) {
  if (value != nullptr) return false;
  flag = true;
  return true;
}

bool takeIndex(const char* value, OutputRequest& request) {
  return takeSwitch(value, request.index);
}

bool takeDict(const char* value, OutputRequest& request) { return takeSwitch(value, request.dict); }

// --progress and --no-progress, without a value: the last one decides.
bool takeProgressSetting(const char* value, int setting, OutputRequest& request) {
  if (value != nullptr) return false;
  request.progress = setting;
  return true;
}

bool takeProgress(const char* value, OutputRequest& request) {
  return takeProgressSetting(value, 1, request);
}

bool takeNoProgress(const char* value, OutputRequest& request) {
  return takeProgressSetting(value, -1, request);
}

const LongOption kLongOptions[] = {
    {"--compress", OptionValue::kRequired, takeCompress,
     "\t--compress=gzip|zstd|none - compression of the output. gzip writes BGZF (read by every\n"
     "\t\tgzip reader, indexable by samtools). By default the output file's name decides:\n"
     "\t\t.gz and .bgz gzip, .zst zstd, any other none; standard output is not compressed.\n"
     "\t\tA .2bit output is written as 2bit (UCSC's packed format) whatever it says.\n"},
    {"--level", OptionValue::kRequired, takeLevel,
     "\t--level=N - compression level: gzip 0 (stored) to 12, default 1; zstd 1 to 19,\n"
     "\t\tdefault 3.\n"},
    {"--threads", OptionValue::kRequired, takeThreads,
     "\t--threads=N - threads compressing the output and inflating BGZF input; with 2 or more,\n"
     "\t\tother input is also read or decoded on a thread of its own where that is\n"
     "\t\tfaster. Default: the processors this process may run on. 1 uses no extra thread.\n"},
    {"--index", OptionValue::kNone, takeIndex,
     "\t--index - also writes OUTPUT.fai and, for gzip output, OUTPUT.gzi, as samtools faidx\n"
     "\t\twrites them for the output file; not for zstd output, which cannot be indexed.\n"},
    {"--dict", OptionValue::kNone, takeDict,
     "\t--dict - also writes the sequence dictionary of the output file (each record's name,\n"
     "\t\tlength and MD5), as samtools dict writes it: ref.fa, ref.fasta or ref.fa.gz give\n"
     "\t\tref.dict; a name without such an extension gets .dict appended.\n"},
    {"--progress", OptionValue::kNone, takeProgress,
     "\t--progress - shows how far the run has come on standard error: bytes read (of the\n"
     "\t\tinput file's size), rate and time left. By default only a terminal shows it, as one\n"
     "\t\tline redrawn after the first second, and not while the input or the output is the\n"
     "\t\tterminal too. --progress shows it wherever standard error goes, a line every 5\n"
     "\t\tseconds where that is no terminal.\n"},
    {"--no-progress", OptionValue::kNone, takeNoProgress,
     "\t--no-progress - never shows the progress.\n"},
};

std::string badValue(const char* name, const char* value) {
  if (value == nullptr) return std::string("Bad argument to ") + name + " option\n";
  return std::string("Bad argument '") + value + "' to " + name + " option\n";
}

// The option the word names ("--name" or "--name=..."), or null.
const LongOption* optionNamed(const char* word) {
  for (const LongOption& o : kLongOptions) {
    size_t n = std::strlen(o.name);
    if (std::strncmp(word, o.name, n) == 0 && (word[n] == '\0' || word[n] == '=')) return &o;
  }
  return nullptr;
}

// A word of "--" and a letter, but for the two that answer the run by
// themselves.
bool isLongWord(const char* word) {
  return word[0] == '-' && word[1] == '-' && std::isalpha(static_cast<unsigned char>(word[2])) &&
         std::strcmp(word, "--help") != 0 && std::strcmp(word, "--version") != 0;
}

}  // namespace

const LongOption* longOptions() { return kLongOptions; }
size_t longOptionCount() { return sizeof kLongOptions / sizeof kLongOptions[0]; }

TakenOptions takeLongOptions(char** argv) {
  TakenOptions taken;
  char** out = argv + 1;
  for (char** a = argv + 1; *a != nullptr;) {
    const char* word = *a;
    if (!isLongWord(word)) {
      *out++ = *a++;
      continue;
    }
    const LongOption* option = optionNamed(word);
    if (option == nullptr) {
      taken.problem = std::string("Unknown option ") + word + "\n";
      return taken;
    }
    // The value after "=", or, for an option that needs one, the next word
    // (taken out too).
    const char* glued =
        word[std::strlen(option->name)] == '=' ? word + std::strlen(option->name) + 1 : nullptr;
    const char* value = glued;
    ++a;
    if (option->value == OptionValue::kRequired && glued == nullptr) {
      value = *a;
      if (value != nullptr) ++a;
    }
    if (option->value == OptionValue::kRequired && value == nullptr) {
      taken.problem = badValue(option->name, nullptr);
      return taken;
    }
    if (!option->take(value, taken.request)) {
      taken.problem = badValue(option->name, value);
      return taken;
    }
  }
  *out = nullptr;
  return taken;
}

void longUsage(std::ostream& os) {
  os << "\nLONG OPTIONS\n";
  for (const LongOption& o : kLongOptions) os << o.help;
}

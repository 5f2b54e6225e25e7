// SPDX-License-Identifier: MIT
// The long options and the output they ask for.
#include "longopts.h"

#include <sched.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

#include "output/bgzf.h"

namespace {

constexpr int kThreadsMax = 256;

// A plain decimal number of at most four digits (no sign, no blank); -1
// when the text is none.
int smallNumber(const char* text) {
  size_t n = std::strlen(text);
  if (n == 0 || n > 4) return -1;
  int v = 0;
  for (size_t i = 0; i < n; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return -1;
    v = v * 10 + (text[i] - '0');
  }
  return v;
}

bool endsWith(const char* text, const char* tail) {
  size_t n = std::strlen(text), k = std::strlen(tail);
  return n >= k && std::strcmp(text + n - k, tail) == 0;
}

int processors() {
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<int>(n) : 1;
}

std::string badValue(const char* name, const char* value) {
  if (value == nullptr) return std::string("Bad argument to ") + name + " option\n";
  return std::string("Bad argument '") + value + "' to " + name + " option\n";
}

// Takes the value of the option `name` from the word at a[0]: after "=",
// or the next word (then removed too; `taken` counts the words).
const char* valueOf(char** a, size_t nameLen, int& taken) {
  if (a[0][nameLen] == '=') {
    taken = 1;
    return a[0] + nameLen + 1;
  }
  taken = a[1] == nullptr ? 1 : 2;
  return a[1];
}

}  // namespace

bool takeLongOptions(char** argv, LongOptions& options, std::string& problem) {
  static const char* const kNames[] = {"--compress", "--level", "--threads", "--index"};
  char** out = argv + 1;
  for (char** a = argv + 1; *a != nullptr;) {
    const char* word = *a;
    bool longWord =
        word[0] == '-' && word[1] == '-' && std::isalpha(static_cast<unsigned char>(word[2]));
    if (!longWord || std::strcmp(word, "--help") == 0 || std::strcmp(word, "--version") == 0) {
      *out++ = *a++;
      continue;
    }
    const char* name = nullptr;
    size_t nameLen = 0;
    for (const char* k : kNames) {
      size_t n = std::strlen(k);
      if (std::strncmp(word, k, n) == 0 && (word[n] == '\0' || word[n] == '=')) {
        name = k;
        nameLen = n;
      }
    }
    if (name == nullptr) {
      problem = std::string("Unknown option ") + word + "\n";
      return false;
    }
    if (std::strcmp(name, "--index") == 0) {
      if (word[nameLen] == '=') {
        problem = badValue(name, word + nameLen + 1);
        return false;
      }
      options.index = true;
      ++a;
      continue;
    }
    int taken = 1;
    const char* value = valueOf(a, nameLen, taken);
    a += taken;
    if (value == nullptr) {
      problem = badValue(name, nullptr);
      return false;
    }
    if (std::strcmp(name, "--compress") == 0) {
      if (std::strcmp(value, "gzip") != 0 && std::strcmp(value, "zstd") != 0 &&
          std::strcmp(value, "none") != 0) {
        problem = badValue(name, value);
        return false;
      }
      options.compress = value;
    } else if (std::strcmp(name, "--level") == 0) {
      // The range depends on the format, settled later.
      if (smallNumber(value) < 0) {
        problem = badValue(name, value);
        return false;
      }
      options.level = value;
    } else {
      int n = smallNumber(value);
      if (n < 1 || n > kThreadsMax) {
        problem = badValue(name, value);
        return false;
      }
      options.threads = n;
    }
  }
  *out = nullptr;
  return true;
}

bool planOutput(const LongOptions& options, const char* outName, OutputPlan& plan,
                std::string& problem, bool& withUsage) {
  withUsage = true;
  if (options.compress != nullptr) {
    plan.format = std::strcmp(options.compress, "gzip") == 0   ? OutputFormat::kBgzf
                  : std::strcmp(options.compress, "zstd") == 0 ? OutputFormat::kZstd
                                                               : OutputFormat::kPlain;
  } else if (outName != nullptr && (endsWith(outName, ".gz") || endsWith(outName, ".bgz"))) {
    plan.format = OutputFormat::kBgzf;
  } else if (outName != nullptr && endsWith(outName, ".zst")) {
    plan.format = OutputFormat::kZstd;
  }
  int lo = kBgzfLevelMin, hi = kZstdLevelMax;
  plan.level = kBgzfLevelDefault;
  if (plan.format == OutputFormat::kBgzf) hi = kBgzfLevelMax;
  if (plan.format == OutputFormat::kZstd) {
    lo = kZstdLevelMin;
    plan.level = kZstdLevelDefault;
  }
  if (options.level != nullptr) {
    int level = smallNumber(options.level);
    if (level < lo || level > hi) {
      problem = badValue("--level", options.level);
      return false;
    }
    plan.level = level;
  }
  if (options.index && outName == nullptr) {
    problem = "The --index option needs an output file, not standard output\n";
    return false;
  }
  // An index of the plain offsets would send readers of the index into the
  // middle of compressed frames: only plain and BGZF output are indexed.
  if (options.index && plan.format == OutputFormat::kZstd) {
    problem = "The --index option cannot index zstd output; use gzip (BGZF) or none\n";
    return false;
  }
  if (plan.format == OutputFormat::kZstd && !zstdOutputBuilt()) {
    problem = "Cannot write zstd output: quenbrel was built without zstd support (libzstd).\n";
    withUsage = false;
    return false;
  }
  plan.index = options.index;
  plan.threads = options.threads > 0 ? options.threads : processors();
  return true;
}

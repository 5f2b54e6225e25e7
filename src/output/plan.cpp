// SPDX-License-Identifier: MIT
// The output plan and the chain of sinks it asks for.
#include "output/plan.h"

#include <cctype>
#include <cstring>

#include "common/platform.h"
#include "output/bgzf.h"
#include "output/compressed.h"
#include "output/index.h"

namespace {

// The levels each format takes, and its default. Plain output takes any
// level either compressor would (and ignores it).
struct LevelRange {
  OutputFormat format;
  int min;
  int max;
  int byDefault;
};

constexpr LevelRange kLevelRanges[] = {
    {OutputFormat::kPlain, kBgzfLevelMin, kZstdLevelMax, kBgzfLevelDefault},
    {OutputFormat::kBgzf, kBgzfLevelMin, kBgzfLevelMax, kBgzfLevelDefault},
    {OutputFormat::kZstd, kZstdLevelMin, kZstdLevelMax, kZstdLevelDefault},
};

const LevelRange& levelsOf(OutputFormat format) {
  for (const LevelRange& r : kLevelRanges) {
    if (r.format == format) return r;
  }
  return kLevelRanges[0];
}

bool endsWith(const char* text, const char* tail) {
  size_t n = std::strlen(text), k = std::strlen(tail);
  return n >= k && std::strcmp(text + n - k, tail) == 0;
}

OutputFormat formatOf(const OutputRequest& request, const char* outName) {
  if (request.compress != nullptr) {
    if (std::strcmp(request.compress, "gzip") == 0) return OutputFormat::kBgzf;
    if (std::strcmp(request.compress, "zstd") == 0) return OutputFormat::kZstd;
    return OutputFormat::kPlain;
  }
  if (outName != nullptr && (endsWith(outName, ".gz") || endsWith(outName, ".bgz")))
    return OutputFormat::kBgzf;
  if (outName != nullptr && endsWith(outName, ".zst")) return OutputFormat::kZstd;
  return OutputFormat::kPlain;
}

Planned refused(std::string problem, bool withUsage = true) {
  Planned p;
  p.problem = std::move(problem);
  p.withUsage = withUsage;
  return p;
}

}  // namespace

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

Planned planOutput(const OutputRequest& request, const char* outName) {
  Planned p;
  OutputPlan& plan = p.plan;
  plan.format = formatOf(request, outName);
  const LevelRange& levels = levelsOf(plan.format);
  plan.level = levels.byDefault;
  if (request.level != nullptr) {
    int level = smallNumber(request.level);
    if (level < levels.min || level > levels.max)
      return refused(std::string("Bad argument '") + request.level + "' to --level option\n");
    plan.level = level;
  }
  if (request.index && outName == nullptr)
    return refused("The --index option needs an output file, not standard output\n");
  // An index of the plain offsets would send readers of the index into the
  // middle of compressed frames: only plain and BGZF output are indexed.
  if (request.index && plan.format == OutputFormat::kZstd)
    return refused("The --index option cannot index zstd output; use gzip (BGZF) or none\n");
  if (plan.format == OutputFormat::kZstd && !zstdOutputBuilt()) {
    return refused("Cannot write zstd output: quenbrel was built without zstd support (libzstd).\n",
                   false);
  }
  if (request.dict && outName == nullptr)
    return refused("The --dict option needs an output file, not standard output\n");
  plan.index = request.index;
  plan.dict = request.dict;
  plan.threads = request.threads > 0 ? request.threads : platform::processorCount();
  return p;
}

std::unique_ptr<Sink> makeOutputChain(std::unique_ptr<Sink> file, const OutputPlan& plan,
                                      OutputIndex* index) {
  std::unique_ptr<Sink> sink =
      plan.format == OutputFormat::kPlain
          ? std::move(file)
          : makeCompressedSink(std::move(file), plan.format, plan.level, plan.threads, index);
  if (index != nullptr) sink = std::make_unique<IndexingSink>(std::move(sink), *index);
  return sink;
}

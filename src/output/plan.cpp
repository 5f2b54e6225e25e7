// SPDX-License-Identifier: MIT
// The output plan and the chain of sinks it asks for.
#include "output/plan.h"

#include <cctype>
#include <cstring>
#include <iterator>

#include "common/platform.h"
#include "output/bgzf.h"
#include "output/compressed.h"
#include "output/index.h"

namespace {

const char* const kGzipSuffixes[] = {".gz", ".bgz", nullptr};
const char* const kZstdSuffixes[] = {".zst", nullptr};
const char* const kTwoBitSuffixes[] = {".2bit", nullptr};
const char* const kNoSuffixes[] = {nullptr};

// Plain output and 2bit take any level either compressor would (and
// ignore it).
const OutputFormatRow kOutputFormats[] = {
    {OutputFormat::kTwoBit, "2bit", kTwoBitSuffixes, kBgzfLevelMin, kZstdLevelMax,
     kBgzfLevelDefault, false, true, false, false, nullptr, nullptr, nullptr},
    {OutputFormat::kBgzf, "gzip", kGzipSuffixes, kBgzfLevelMin, kBgzfLevelMax, kBgzfLevelDefault,
     true, false, true, true, nullptr, nullptr, makeBgzfSink},
    {OutputFormat::kZstd, "zstd", kZstdSuffixes, kZstdLevelMin, kZstdLevelMax, kZstdLevelDefault,
     true, false, false, false, zstdOutputBuilt,
     "Cannot write zstd output: quenbrel was built without zstd support (libzstd).\n",
     makeZstdSink},
    {OutputFormat::kPlain, "none", kNoSuffixes, kBgzfLevelMin, kZstdLevelMax, kBgzfLevelDefault,
     true, false, true, false, nullptr, nullptr, nullptr},
};

bool endsWith(const char* text, const char* tail) {
  size_t n = std::strlen(text), k = std::strlen(tail);
  return n >= k && std::strcmp(text + n - k, tail) == 0;
}

// The row whose suffix ends the output's name, or null.
const OutputFormatRow* suffixFormat(const char* outName) {
  for (const OutputFormatRow& row : kOutputFormats) {
    for (const char* const* s = row.suffixes; outName != nullptr && *s != nullptr; ++s) {
      if (endsWith(outName, *s)) return &row;
    }
  }
  return nullptr;
}

// By the name when it chooses a format that is no compression, else by the
// request, else by the name; plain when none says.
const OutputFormatRow& formatOf(const OutputRequest& request, const char* outName) {
  const OutputFormatRow* byName = suffixFormat(outName);
  if (byName != nullptr && !byName->compression) return *byName;
  if (request.compress != nullptr) {
    const OutputFormatRow* named = outputFormatNamed(request.compress);
    return named != nullptr ? *named : outputFormatRow(OutputFormat::kPlain);
  }
  return byName != nullptr ? *byName : outputFormatRow(OutputFormat::kPlain);
}

Planned refused(std::string problem, bool withUsage = true) {
  Planned p;
  p.problem = std::move(problem);
  p.withUsage = withUsage;
  return p;
}

}  // namespace

const OutputFormatRow* outputFormatNamed(const char* name) {
  for (const OutputFormatRow& row : kOutputFormats) {
    if (row.compression && std::strcmp(row.name, name) == 0) return &row;
  }
  return nullptr;
}

const OutputFormatRow& outputFormatRow(OutputFormat format) {
  for (const OutputFormatRow& row : kOutputFormats) {
    if (row.format == format) return row;
  }
  return kOutputFormats[std::size(kOutputFormats) - 1];
}

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
  const OutputFormatRow& row = formatOf(request, outName);
  plan.format = row.format;
  plan.level = row.levelDefault;
  if (request.level != nullptr) {
    int level = smallNumber(request.level);
    if (level < row.levelMin || level > row.levelMax)
      return refused(std::string("Bad argument '") + request.level + "' to --level option\n");
    plan.level = level;
  }
  if (request.index && outName == nullptr)
    return refused("The --index option needs an output file, not standard output\n");
  // An index of the plain offsets would send readers of the index into the
  // middle of compressed frames: only plain and BGZF output are indexed.
  if (request.index && !row.indexable) {
    return refused(std::string("The --index option cannot index ") + row.name +
                   " output; use gzip (BGZF) or none\n");
  }
  if (row.built != nullptr && !row.built()) return refused(row.missing, false);
  if (request.dict && outName == nullptr)
    return refused("The --dict option needs an output file, not standard output\n");
  if (request.dict && row.whole) {
    return refused(std::string("The --dict option cannot describe ") + row.name +
                   " output; use gzip (BGZF) or none\n");
  }
  plan.index = request.index;
  plan.dict = request.dict;
  plan.threads = request.threads > 0 ? request.threads : platform::processorCount();
  return p;
}

std::unique_ptr<Sink> makeOutputChain(std::unique_ptr<Sink> file, const OutputPlan& plan,
                                      OutputIndex* index) {
  const OutputFormatRow& row = outputFormatRow(plan.format);
  std::unique_ptr<Sink> sink = row.sink == nullptr
                                   ? std::move(file)
                                   : row.sink(std::move(file), plan.level, plan.threads, index);
  if (index != nullptr) sink = std::make_unique<IndexingSink>(std::move(sink), *index);
  return sink;
}

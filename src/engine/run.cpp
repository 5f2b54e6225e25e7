// SPDX-License-Identifier: MIT
// The steps of a run, in their order.
#include "engine/run.h"

#include <utility>
#include <vector>

#include "output/index.h"
#include "output/sink.h"
#include "output/twobit.h"

namespace {

RunResult failed(int status, std::string message, bool withUsage = false) {
  RunResult r;
  r.status = status;
  r.message = std::move(message);
  r.withUsage = withUsage;
  return r;
}

// Which of the files that describe it the output has: BGZF output is
// indexed with its .gzi as well.
IndexFiles describingFiles(const OutputPlan& plan) {
  IndexFiles files;
  files.fai = plan.index;
  files.gzi = plan.index && outputFormatRow(plan.format).gzi;
  files.dict = plan.dict;
  return files;
}

// The first file the run would write that is the input, or an empty
// string: the output, then its index files, then its dictionary.
std::string writtenFileIsInput(const char* outName, const IndexFiles& files,
                               const platform::FileId& input) {
  if (!input.regular) return "";
  std::vector<std::string> names{outName};
  if (files.fai) names.push_back(faiName(outName));
  if (files.gzi) names.push_back(gziName(outName));
  if (files.dict) names.push_back(dictName(outName));
  for (const std::string& name : names) {
    if (platform::sameFile(platform::fileId(name), input)) return name;
  }
  return "";
}

// Everything that can be refused before a file is touched; an empty result
// when nothing is.
RunResult refusal(const RunRequest& request, const Planned& planned, const IndexFiles& files) {
  if (!planned.ok()) return failed(kConvertReadFailed, planned.problem, planned.withUsage);
  std::string clash =
      request.outName != nullptr ? writtenFileIsInput(request.outName, files, request.inputId) : "";
  if (!clash.empty()) {
    return failed(kConvertWriteFailed,
                  "Refusing to overwrite the input file " + clash + "\nFailed to asign output.\n",
                  true);
  }
  // A format written whole at the end goes into a file the run opens.
  if (request.out != nullptr && outputFormatRow(planned.plan.format).whole) {
    return failed(kConvertReadFailed,
                  std::string("The ") + outputFormatRow(planned.plan.format).name +
                      " output needs an output file, not standard output\n",
                  true);
  }
  if (request.outName == nullptr && request.inputId.regular &&
      platform::sameFile(request.outId, request.inputId)) {
    return failed(kConvertWriteFailed,
                  "Refusing to write the output into the input file through standard output\n"
                  "Failed to asign output.\n",
                  true);
  }
  return RunResult();
}

}  // namespace

RunResult runConversion(RunRequest request) {
  const char* outName = request.outName;
  Planned planned = planOutput(request.output, outName);
  const OutputPlan& plan = planned.plan;
  const IndexFiles files = describingFiles(plan);
  RunResult refused = refusal(request, planned, files);
  if (refused.status != kConvertOk) return refused;

  // The files that describe an earlier output of the name are settled, and
  // the index files and the dictionary created, before the output is
  // opened: when one cannot be, an earlier output stays as it was.
  StaleFiles stale;
  if (outName != nullptr && !stale.settle(outName, files, request.inputId))
    return failed(kConvertWriteFailed, stale.message());
  OutputIndex index;
  if (outName != nullptr && plan.described() && !index.open(outName, files, plan.threads))
    return failed(kConvertWriteFailed, index.message());
  std::unique_ptr<Sink> out = std::move(request.out);
  FileSink* file = nullptr;
  TwoBitSink* twoBit = nullptr;
  if (out == nullptr) {
    std::unique_ptr<FileSink> opened;
    std::unique_ptr<TwoBitSink> whole;
    if (outputFormatRow(plan.format).whole) {
      whole = std::make_unique<TwoBitSink>();
      if (!whole->open(outName)) whole.reset();
    } else {
      opened = openFileSink(outName);
    }
    if (opened == nullptr && whole == nullptr) {
      return failed(
          kConvertWriteFailed,
          std::string("Failed to open ") + outName + " for writing\nFailed to asign output.\n",
          true);
    }
    file = opened.get();
    twoBit = whole.get();
    out = opened != nullptr ? std::unique_ptr<Sink>(std::move(opened)) : std::move(whole);
  }
  if (outName != nullptr && plan.described()) index.outputOpened(outName);

  ConvertOptions options = request.options;
  options.lineLen = residuesPerLine(options.lineLen);
  options.threads = plan.threads;
  // 2bit has no lines: one line per sequence is the least to read back.
  if (twoBit != nullptr) options.oneLine = true;
  std::unique_ptr<Sink> sink =
      makeOutputChain(std::move(out), plan, plan.described() ? &index : nullptr);
  // A named output begins only once the conversion begins to write it. The
  // index and dictionary of an earlier output of this name then describe
  // bytes that are gone. Removed now, they are also not replaced at the
  // end, which some file systems answer by writing the new file out at once.
  RunResult result;
  bool emptied = true;
  if (twoBit != nullptr) {
    // Written whole at the end: an earlier file of the name stays as it was
    // until the new one takes its name.
    twoBit->beforeCommit([&] {
      result.outputBegun = true;
      emptied = stale.remove();
      return emptied;
    });
  } else if (outName != nullptr) {
    sink = std::make_unique<BeginningSink>(std::move(sink), [&] {
      result.outputBegun = true;
      emptied = (file == nullptr || file->empty()) && stale.remove();
      return emptied;
    });
  }
  ConvertResult converted = convert(*request.input, *sink, options);
  result.status = converted.status;
  result.message = converted.message;
  // An input without content, too, leaves an empty output, or fails.
  if (!emptied) {
    result.status = kConvertWriteFailed;
    result.message = stale.message().empty() ? "Failed to write output.\n" : stale.message();
  }
  if (twoBit != nullptr && !twoBit->refusal().empty()) {
    result.status = kConvertReadFailed;
    result.message = twoBit->refusal();
  }
  // The files that describe the output get their names only when all went
  // well.
  if (result.status == kConvertOk && plan.described()) {
    if (!index.commit()) {
      result.status = kConvertWriteFailed;
      result.message = index.message();
    } else if (request.warn) {
      index.warnings(request.warn);
    }
  }
  if (result.status == kConvertOk && twoBit != nullptr && twoBit->writtenAsN() > 0 &&
      request.warn) {
    request.warn(std::to_string(twoBit->writtenAsN()) +
                 " residues other than A, C, G, T and N were written as N (2bit has no other "
                 "letters)\n");
  }
  return result;
}

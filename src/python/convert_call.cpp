// SPDX-License-Identifier: MIT
// quenbrel.convert(): the command line's run, with its arguments read by
// the command line's own rules and its streams bound to paths or file
// objects.
#include "python/convert_call.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "cli/long_options.h"
#include "common/platform.h"
#include "engine/run.h"
#include "python/errors.h"
#include "python/host_io.h"

namespace host {

namespace {

// The Python argument that a message of the command line's option reading
// is about.
const char* argumentOf(const std::string& message) {
  static const struct {
    const char* option;
    const char* argument;
  } kOptions[] = {
      {"--compress", "compress"}, {"--level", "level"}, {"--threads", "threads"},
      {"--index", "index"},       {"--dict", "dict"},   {"zstd output", "compress"},
  };
  for (const auto& o : kOptions) {
    if (message.find(o.option) != std::string::npos) return o.argument;
  }
  return "arguments";
}

// The long options as the command line would have them, read by its own
// table into `request`, which points into `words`: the caller keeps them
// for the run. False with the UsageError set.
bool readLongOptions(const ConvertArguments& a, std::vector<std::string>& words,
                     OutputRequest& request) {
  words = {"quenbrel"};
  if (a.compress != nullptr) words.push_back(std::string("--compress=") + a.compress);
  if (a.level != nullptr) words.push_back(std::string("--level=") + a.level);
  if (a.threads != nullptr) words.push_back(std::string("--threads=") + a.threads);
  if (a.index) words.emplace_back("--index");
  if (a.dict) words.emplace_back("--dict");
  std::vector<char*> argv;
  argv.reserve(words.size() + 1);
  for (std::string& w : words) argv.push_back(&w[0]);
  argv.push_back(nullptr);
  TakenOptions taken = takeLongOptions(argv.data());
  if (!taken.ok()) {
    setUsageError(argumentOf(taken.problem), taken.problem);
    return false;
  }
  request = taken.request;
  return true;
}

}  // namespace

PyObject* convertCall(const ConvertArguments& a) {
  RunRequest request;
  std::vector<std::string> words;
  if (!readLongOptions(a, words, request.output)) return nullptr;
  if (!lineLenFromText(a.lineLength, request.options.lineLen))
    return setUsageError("line_length",
                         std::string("Bad argument '") + a.lineLength + "' to -n option\n");
  request.options.oneLine = a.oneLine;
  request.options.upperCase = a.upper;
  request.options.dropN = a.dropN;

  const bool named = a.dst != Py_None && PyBytes_Check(a.dst);
  request.outName = named ? PyBytes_AS_STRING(a.dst) : nullptr;
  Planned planned = planOutput(request.output, request.outName);
  if (!planned.ok()) return setUsageError(argumentOf(planned.problem), planned.problem);

  PendingError error;
  BoundInput input;
  if (!bindInput(a.src, input, error)) return nullptr;
  CancellableSource cancellable(*input.source);
  request.input = &cancellable;
  request.inputId = input.id;
  std::string gathered;
  if (a.dst == Py_None) {
    request.out = std::make_unique<CallbackSink>([&gathered](const unsigned char* p, size_t n) {
      gathered.append(reinterpret_cast<const char*>(p), n);
      return true;
    });
  } else if (!named) {
    request.out = std::make_unique<FileSink>(a.dst, error);
    request.outId = fileObjectId(a.dst);
  }
  std::vector<std::string> warnings;
  request.warn = [&warnings](const std::string& line) { warnings.push_back(line); };

  RunResult result;
  bool finished = runWithoutGil([&] { result = runConversion(std::move(request)); },
                                [&] { cancellable.cancel(); });
  if (!finished) return nullptr;
  if (result.status != kConvertOk) {
    setRunError(result.status, result.message);
    error.restoreAsCause();
    return nullptr;
  }
  for (const std::string& line : warnings) {
    if (!warnRun(line)) return nullptr;
  }
  if (a.dst != Py_None) Py_RETURN_NONE;
  return PyBytes_FromStringAndSize(gathered.data(), static_cast<Py_ssize_t>(gathered.size()));
}

}  // namespace host

// SPDX-License-Identifier: MIT
// quenbrel: converts IG (or FASTA) sequence records into FASTA.
//
// The entry reads the command line into the conversion settings and the
// output request, binds the input and standard output, and hands over to
// the run (engine/run.h), whose status ends the process. Statuses are the
// engine's: 10 for what is wrong with the input side or the command line,
// 20 for the output side.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "cli/long_options.h"
#include "cli/progress.h"
#include "common/bytes.h"
#include "common/platform.h"
#include "engine/convert.h"
#include "engine/run.h"
#include "lib/functions.h"

// Writes the usage text for the program path `exec` to `os`.
void usage(std::ostream& os, const char* exec) {
  if (exec == nullptr) return;
  const std::string name = platform::programName(exec);
  os << "NAME\n\t" << name << " - converts IG formated sequences into FASTA format\n"
     << "\nSYNOPSIS\n"
     << "\t" << name << " [ig_input(-)] [fasta_output]\n"
     << "\t[-n len]\n"
     << "\nDESCRIPTION\n"
     << "\tConverts IG formated sequences into FASTA format\n"
     << "\nOPTIONS\n"
     << "\t-n # - number of bases per data line in the output.\n"
     << "\nFLAGS\n"
     << "\t-ol - onle line per sequence. Each sequence body will be in one line.\n"
     << "\t-uc - converts sequences to upper case.\n"
     << "\t-unseq - eliminates N from the sequence, in order to clean unsequenced data.\n"
     << "\nAUTHOR\n"
     << "\tquenbrel developers\n";
}

void usage(char* exec) { usage(std::cerr, exec); }

namespace {

// The first of the words "--help" and "--version" on the command line, or
// null. Either one, wherever it stands, answers the run by itself.
const char* findInfoRequest(char** argv) {
  for (char** a = argv + 1; *a != nullptr; ++a) {
    if (std::strcmp(*a, "--help") == 0 || std::strcmp(*a, "--version") == 0) return *a;
  }
  return nullptr;
}

// Answers --help or --version on standard output; a failed write is
// reported like any other output failure.
int answerInfoRequest(const char* request, char* exec) {
  if (std::strcmp(request, "--help") == 0) {
    usage(std::cout, exec);
    longUsage(std::cout);
  } else {
    std::cout << "quenbrel " << QUENBREL_VERSION << "\n";
  }
  std::cout.flush();
  if (!std::cout || std::fflush(stdout) != 0) {
    std::fputs("Failed to write output.\n", stderr);
    return kConvertWriteFailed;
  }
  return 0;
}

// A refusal of the command line: the message, then the usage text.
int refuse(const std::string& message, char* exec, int status) {
  std::fputs(message.c_str(), stderr);
  usage(exec);
  return status;
}

// Reads -n, -ol, -uc and -unseq into `options`; false, with the refusal's
// message, when the -n value is no integer.
bool readShortOptions(char** argv, ConvertOptions& options, std::string& problem) {
  ARGMAP amap;
  // A missing -n value is reported by the collector; the run goes on.
  getoptions(argv, amap, 1, "-n");
  getflags(argv, amap, 3, "-unseq", "-uc", "-ol");
  options.upperCase = amap.count("-uc") > 0;
  options.oneLine = amap.count("-ol") > 0;
  options.dropN = amap.count("-unseq") > 0;
  ARGMAP::const_iterator n = amap.find("-n");
  if (n != amap.end() && !lineLenFromText(n->second.c_str(), options.lineLen)) {
    problem = "Bad argument '" + n->second + "' to -n option\n";
    return false;
  }
  return true;
}

// Binds the output operand after the input's: a name, or standard output
// for none or "-".
void bindOutput(RunRequest& request, char** args, FILE* input) {
  char* operand = args[1];
  if (operand != nullptr && operand[0] != '-') {
    request.outName = operand;
    return;
  }
  const int out = fileno(stdout);
  request.out = descriptorSink(out, false);
  // With standard output closed, the input may have been opened on its
  // descriptor; writes to it then fail as for any closed output.
  if (fileno(input) != out) request.outId = platform::descriptorId(out);
}

void warn(const std::string& line) { std::fputs(line.c_str(), stderr); }

// Runs the conversion of `source`, showing its progress as `style` says.
// The line is gone when this returns (its thread ended, the line erased):
// what the caller writes next stands alone.
RunResult runShowingProgress(RunRequest request, ByteSource& source, ProgressStyle style) {
  request.input = &source;
  request.warn = warn;
  if (style == ProgressStyle::kNone) return runConversion(std::move(request));
  CountingSource counted(source);
  Progress progress(counted, source.remaining(), style, stderr);
  request.input = &counted;
  request.warn = [&progress](const std::string& line) { progress.message(line); };
  RunResult result = runConversion(std::move(request));
  progress.stop();
  return result;
}

}  // namespace

int main(int count, char** words) {
  // Words in UTF-8 and streams of bytes, on every system.
  platform::Arguments arguments(count, words);
  platform::binaryStandardStreams();
  int argc = arguments.argc();
  char** argv = arguments.argv();
  // Started with an empty argument vector there is no operand at all; the
  // binder must not look past the vector's end.
  if (argc < 1) {
    std::fputs("Failed to asign input.\n", stderr);
    return kConvertReadFailed;
  }
  if (const char* request = findInfoRequest(argv)) return answerInfoRequest(request, argv[0]);
  // The long options leave the command line before anything else is
  // matched.
  TakenOptions taken = takeLongOptions(argv);
  if (!taken.ok()) return refuse(taken.problem, argv[0], kConvertReadFailed);
  RunRequest request;
  request.output = taken.request;
  std::string problem;
  if (!readShortOptions(argv, request.options, problem))
    return refuse(problem, argv[0], kConvertReadFailed);
  FILE* input = nullptr;
  char** args = assigninput(input, argv);
  if (args == nullptr) return refuse("Failed to asign input.\n", argv[0], kConvertReadFailed);
  bindOutput(request, args, input);
  // The stream stays bound until the process ends; the run reads its
  // descriptor.
  std::unique_ptr<ByteSource> source = descriptorSource(fileno(input), false);
  request.inputId = platform::fileId(input);
  const ProgressStyle style =
      progressStyle(request.output.progress, input, request.outName == nullptr);
  RunResult result = runShowingProgress(std::move(request), *source, style);
  if (result.withUsage) return refuse(result.message, argv[0], result.status);
  std::fputs(result.message.c_str(), stderr);
  return result.status;
}

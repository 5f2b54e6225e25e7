// SPDX-License-Identifier: MIT
// quenbrel: converts IG (or FASTA) sequence records into FASTA.
//
// The entry reads the command line into the conversion settings and the
// output plan, binds the input, settles everything that could fail before
// the output is touched, opens it, and hands over to the engine, whose
// status ends the process. Statuses are the engine's: 10 for what is wrong
// with the input side or the command line, 20 for the output side.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/long_options.h"
#include "common/bytes.h"
#include "common/platform.h"
#include "engine/convert.h"
#include "lib/functions.h"
#include "output/index.h"
#include "output/plan.h"

// Writes the usage text for the program path `exec` to `os`.
void usage(std::ostream& os, const char* exec) {
  if (exec == nullptr) return;
  const char* slash = std::strrchr(exec, '/');
  const char* name = slash ? slash + 1 : exec;
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

// Whether `id` is the regular file that `input` reads from.
bool isInputFile(FILE* input, const platform::FileId& id) {
  platform::FileId in = platform::fileId(input);
  return in.regular && platform::sameFile(in, id);
}

// True when `name` names the regular file that `input` reads from, so
// opening it for writing would destroy the input before it is read.
bool namesInputFile(const std::string& name, FILE* input) {
  return isInputFile(input, platform::fileId(name));
}

// True when standard output is the regular file that `input` reads from:
// the run would read back what it writes and grow the file without end.
// (With standard output closed, the input may have been opened on its
// descriptor; writes to it then fail as for any closed output.)
bool stdoutIsInputFile(FILE* input) {
  return fileno(input) != STDOUT_FILENO &&
         isInputFile(input, platform::descriptorId(STDOUT_FILENO));
}

// The first file the run would write that names the input, or an empty
// string: the output, then its index files, then its dictionary.
std::string writtenFileNamingInput(const char* outName, const OutputPlan& plan, FILE* input) {
  std::vector<std::string> names{outName};
  if (plan.index) {
    names.push_back(faiName(outName));
    names.push_back(gziName(outName));
  }
  if (plan.dict) names.push_back(dictName(outName));
  for (const std::string& name : names) {
    if (namesInputFile(name, input)) return name;
  }
  return "";
}

// Names that several records have, and an empty name in a dictionary: what
// the index and the dictionary hold of them, a line each.
void warnOfDuplicates(const OutputIndex& index) {
  index.warnings([](const std::string& line) { std::fputs(line.c_str(), stderr); });
}

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

// Binds the output as assignoutput() does, with its messages, but opens a
// named file without emptying it: a run that fails before it has anything
// to write (input in the wrong format, a first read that fails) leaves an
// earlier file as it was. emptyOutput() empties it once the run begins.
// `fd` is then the output's descriptor.
char** bindOutput(int& fd, char** args) {
  char* operand = args[1];
  if (operand == nullptr || operand[0] == '-') {
    fd = STDOUT_FILENO;
    return operand == nullptr ? args : args + 1;
  }
  fd = ::open(operand, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    std::fprintf(stderr, "Failed to open %s for writing\n", operand);
    return nullptr;
  }
  return args + 1;
}

// Empties what the output `fd` held before. Only a regular file holds
// anything: a FIFO or a device (/dev/stdout on a pipe, /dev/null) is
// written as it is.
bool emptyOutput(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  return !S_ISREG(st.st_mode) || ftruncate(fd, 0) == 0;
}

// A refusal of the command line: the message, then the usage text.
int refuse(const std::string& message, char* exec, int status) {
  std::fputs(message.c_str(), stderr);
  usage(exec);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
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

  ARGMAP amap;
  ConvertOptions options;
  // A missing -n value is reported by the collector; the run goes on.
  getoptions(argv, amap, 1, "-n");
  getflags(argv, amap, 3, "-unseq", "-uc", "-ol");
  options.upperCase = amap.count("-uc") > 0;
  options.oneLine = amap.count("-ol") > 0;
  options.dropN = amap.count("-unseq") > 0;
  ARGMAP::const_iterator n = amap.find("-n");
  if (n != amap.end()) {
    if (!lineLenFromText(n->second.c_str(), options.lineLen)) {
      std::string bad = "Bad argument '" + n->second + "' to -n option\n";
      return refuse(bad, argv[0], kConvertReadFailed);
    }
  }

  FILE* input = nullptr;
  char** args = assigninput(input, argv);
  if (args == nullptr) return refuse("Failed to asign input.\n", argv[0], kConvertReadFailed);

  // Everything that can be refused is settled before the output is opened.
  char* outName = args[1];
  bool named = outName != nullptr && outName[0] != '-';
  Planned planned = planOutput(taken.request, named ? outName : nullptr);
  if (!planned.ok()) {
    std::fputs(planned.problem.c_str(), stderr);
    if (planned.withUsage) usage(argv[0]);
    return kConvertReadFailed;
  }
  const OutputPlan& plan = planned.plan;
  // Nothing the run writes may be the input: neither a named file nor
  // standard output.
  std::string clash = named ? writtenFileNamingInput(outName, plan, input) : "";
  if (!clash.empty()) {
    std::string refusal = "Refusing to overwrite the input file " + clash + "\n";
    return refuse(refusal + "Failed to asign output.\n", argv[0], kConvertWriteFailed);
  }
  if (!named && stdoutIsInputFile(input)) {
    return refuse(
        "Refusing to write the output into the input file through standard output\n"
        "Failed to asign output.\n",
        argv[0], kConvertWriteFailed);
  }
  // The files that describe an earlier output of the name are settled, and
  // the index files and the dictionary created, before the output is
  // opened: when one cannot be, an earlier output stays as it was.
  IndexFiles files;
  files.fai = plan.index;
  files.gzi = plan.index && plan.format == OutputFormat::kBgzf;
  files.dict = plan.dict;
  StaleFiles stale;
  if (named && !stale.settle(outName, files, platform::fileId(input))) {
    std::fputs(stale.message().c_str(), stderr);
    return kConvertWriteFailed;
  }
  OutputIndex index;
  if (named && plan.described() && !index.open(outName, files, plan.threads)) {
    std::fputs(index.message().c_str(), stderr);
    return kConvertWriteFailed;
  }
  int output = -1;
  if (bindOutput(output, args) == nullptr) {
    return refuse("Failed to asign output.\n", argv[0], kConvertWriteFailed);
  }
  if (named && plan.described()) index.outputOpened(outName);

  options.threads = plan.threads;
  std::unique_ptr<Sink> sink =
      makeOutputChain(descriptorSink(output, named), plan, plan.described() ? &index : nullptr);
  // A named output is emptied only once the run begins to write it. The
  // index and dictionary of an earlier output of this name then describe
  // bytes that are gone. Removed now, they are also not replaced at the
  // end, which some file systems answer by writing the new file out at once.
  bool emptied = true;
  if (named) {
    sink = std::make_unique<BeginningSink>(std::move(sink), [output, &stale, &emptied] {
      emptied = emptyOutput(output) && stale.remove();
      return emptied;
    });
  }
  // The stream stays bound until the process ends; the engine reads its
  // descriptor.
  std::unique_ptr<ByteSource> source = descriptorSource(fileno(input), false);
  ConvertResult result = convert(*source, *sink, options);
  // An input without content, too, leaves an empty output, or fails.
  if (!emptied) {
    std::string message = stale.message().empty() ? "Failed to write output.\n" : stale.message();
    result = {kConvertWriteFailed, message};
  }
  // The files that describe the output get their names only when all went
  // well.
  if (result.status == kConvertOk && plan.described()) {
    if (!index.commit()) {
      result = {kConvertWriteFailed, index.message()};
    } else {
      warnOfDuplicates(index);
    }
  }
  std::fputs(result.message.c_str(), stderr);
  return result.status;
}

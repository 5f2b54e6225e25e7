// SPDX-License-Identifier: MIT
// quenbrel: converts IG (or FASTA) sequence records into FASTA.
//
// The entry reads the command line into the conversion settings, binds the
// two streams and hands over to the engine, whose status ends the process.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "engine/convert.h"
#include "functions.h"
#include "longopts.h"
#include "output/index.h"

namespace {

// Statuses of the command-line failures.
constexpr int kBadInput = 10;
constexpr int kBadOutput = 20;

// Reads the -n value as "%d" would (leading blanks, a sign, digits; the rest
// ignored). False when no integer is there or it does not fit an int.
bool parseLineLen(const char* text, int& value) {
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = (*p == '-');
  if (*p == '+' || *p == '-') ++p;
  if (!std::isdigit(static_cast<unsigned char>(*p))) return false;
  long long magnitude = 0;
  for (; std::isdigit(static_cast<unsigned char>(*p)); ++p) {
    magnitude = magnitude * 10 + (*p - '0');
    if (magnitude > static_cast<long long>(INT_MAX) + 1) return false;
  }
  long long v = negative ? -magnitude : magnitude;
  if (v > INT_MAX || v < INT_MIN) return false;
  value = static_cast<int>(v);
  return true;
}

// True when `operand` names the regular file that `input` reads from, so
// opening it for writing would destroy the input before it is read.
bool namesInputFile(const char* operand, FILE* input) {
  struct stat in, out;
  if (fstat(fileno(input), &in) != 0 || !S_ISREG(in.st_mode)) return false;
  if (stat(operand, &out) != 0) return false;
  return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

// True when standard output is the regular file that `input` reads from:
// the run would read back what it writes and grow the file without end.
// (With standard output closed, the input may have been opened on its
// descriptor; writes to it then fail as for any closed output.)
bool stdoutIsInputFile(FILE* input) {
  struct stat in, out;
  if (fileno(input) == STDOUT_FILENO) return false;
  if (fstat(fileno(input), &in) != 0 || !S_ISREG(in.st_mode)) return false;
  if (fstat(STDOUT_FILENO, &out) != 0) return false;
  return in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

// The first file the run would write that names the input, or an empty
// string: the output, then its index files.
std::string writtenFileNamingInput(const char* outName, const OutputPlan& plan, FILE* input) {
  if (namesInputFile(outName, input)) return outName;
  if (!plan.index) return "";
  for (const std::string& name : {faiName(outName), gziName(outName)}) {
    if (namesInputFile(name.c_str(), input)) return name;
  }
  return "";
}

// The first of the words "--help" and "--version" on the command line, or
// null. Either one, wherever it stands, answers the run by itself.
const char* findInfoRequest(char** argv) {
  for (char** a = argv + 1; *a != nullptr; ++a) {
    if (std::strcmp(*a, "--help") == 0 || std::strcmp(*a, "--version") == 0) return *a;
  }
  return nullptr;
}

}  // namespace

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

// --- Compressed and indexed output -----------------------------------------
// The long options, described by --help after the usage text (which the
// failure paths write alone, unchanged).
void longUsage(std::ostream& os) {
  os << "\nLONG OPTIONS\n"
     << "\t--compress=gzip|zstd|none - compression of the output. gzip writes BGZF (read by every\n"
     << "\t\tgzip reader, indexable by samtools). By default the output file's name decides:\n"
     << "\t\t.gz and .bgz gzip, .zst zstd, any other none; standard output is not compressed.\n"
     << "\t--level=N - compression level: gzip 0 (stored) to 12, default 1; zstd 1 to 19,\n"
     << "\t\tdefault 3.\n"
     << "\t--threads=N - threads compressing the output and inflating BGZF input; default: the\n"
     << "\t\tprocessors this process may run on. 1 uses no extra thread.\n"
     << "\t--index - also writes OUTPUT.fai and, for gzip output, OUTPUT.gzi, as samtools faidx\n"
     << "\t\twrites them for the output file; not for zstd output, which cannot be indexed.\n";
}

// Converts into the planned output: compressed on the pool of workers,
// indexed on the way into `index` (opened already when the plan has one).
// The index gets its names only when all went well.
ConvertResult convertPlanned(FILE* input, FILE* output, const OutputPlan& plan, OutputIndex& index,
                             ConvertOptions options) {
  if (plan.format == OutputFormat::kPlain && !plan.index) return convert(input, output, options);
  std::unique_ptr<Sink> sink =
      makeOutputSink(output, plan.format, plan.level, plan.threads, plan.index ? &index : nullptr);
  if (plan.index) sink = std::make_unique<IndexingSink>(std::move(sink), index);
  options.sink = sink.get();
  ConvertResult result = convert(input, output, options);
  if (!plan.index || result.status != 0) return result;
  if (!index.commit()) return {kBadOutput, index.message()};
  return result;
}
// --- end of compressed and indexed output ----------------------------------

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
    return kBadOutput;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Started with an empty argument vector there is no operand at all; the
  // binder must not look past the vector's end.
  if (argc < 1) {
    std::fputs("Failed to asign input.\n", stderr);
    return kBadInput;
  }
  if (const char* request = findInfoRequest(argv)) return answerInfoRequest(request, argv[0]);

  // --- Compressed and indexed output: the long options leave the command
  // line before anything else is matched.
  LongOptions longOptions;
  std::string problem;
  if (!takeLongOptions(argv, longOptions, problem)) {
    std::fputs(problem.c_str(), stderr);
    usage(argv[0]);
    return kBadInput;
  }
  // --- end of compressed and indexed output

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
    if (!parseLineLen(n->second.c_str(), options.lineLen)) {
      std::fprintf(stderr, "Bad argument '%s' to -n option\n", n->second.c_str());
      usage(argv[0]);
      return kBadInput;
    }
    if (options.lineLen <= 4) options.lineLen = 70;
  }

  FILE* input = nullptr;
  char** args = assigninput(input, argv);
  if (args == nullptr) {
    std::fputs("Failed to asign input.\n", stderr);
    usage(argv[0]);
    return kBadInput;
  }

  char* outName = args[1];

  // --- Compressed and indexed output: settled before the output is opened.
  OutputPlan plan;
  bool withUsage = true;
  bool named = outName != nullptr && outName[0] != '-';
  if (!planOutput(longOptions, named ? outName : nullptr, plan, problem, withUsage)) {
    std::fputs(problem.c_str(), stderr);
    if (withUsage) usage(argv[0]);
    return kBadInput;
  }
  // --- end of compressed and indexed output

  // Nothing the run writes may be the input: neither a named file nor
  // standard output.
  std::string clash = named ? writtenFileNamingInput(outName, plan, input) : "";
  if (!clash.empty()) {
    std::fprintf(stderr, "Refusing to overwrite the input file %s\n", clash.c_str());
    std::fputs("Failed to asign output.\n", stderr);
    usage(argv[0]);
    return kBadOutput;
  }
  if (!named && stdoutIsInputFile(input)) {
    std::fputs("Refusing to write the output into the input file through standard output\n",
               stderr);
    std::fputs("Failed to asign output.\n", stderr);
    usage(argv[0]);
    return kBadOutput;
  }
  // The index files are created before the output is opened: when they
  // cannot be, an earlier output stays as it was.
  OutputIndex index;
  if (named && plan.index && !index.open(outName, plan.format == OutputFormat::kBgzf)) {
    std::fputs(index.message().c_str(), stderr);
    return kBadOutput;
  }
  FILE* output = nullptr;
  if (assignoutput(output, args) == nullptr) {
    std::fputs("Failed to asign output.\n", stderr);
    usage(argv[0]);
    return kBadOutput;
  }
  // An index of an earlier output of this name describes bytes that are
  // gone. Removed now, it is also not replaced at the end, which some file
  // systems answer by writing the new file out at once.
  if (named) removeStaleIndex(outName, fileno(input));

  options.threads = plan.threads;
  ConvertResult result = convertPlanned(input, output, plan, index, options);
  std::fputs(result.message.c_str(), stderr);
  return result.status;
}

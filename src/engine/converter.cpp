// The conversion engine: one pass over the input bytes, in large blocks.
//
// Input is read in blocks into our own buffer and walked by a small state
// machine, so a line of any length is one line and memory does not grow
// with sequence, header or name length. Only a comment line holding
// "FRAGMENT" is kept (from that word on), since it has to wait for its name
// line. Residues are packed by the kernel chosen for this processor, then
// wrapped into the output buffer.
#include <cstring>
#include <string>

#include "../input/input.h"
#include "../kernels/kernel.h"
#include "../output/output.h"
#include "convert.h"
#include "fragment.h"

namespace {

constexpr size_t kInCap = 128 * 1024;
// Residues are packed into a small staging area before being wrapped, so
// that the staging stays in the first-level cache.
constexpr size_t kStageWindow = 8 * 1024;

enum class State {
  kFirstLine,     // phase A: at the start of a line, no content seen yet
  kFirstLineOne,  // phase A: one byte of a line seen, which may be all of it
  kLineStart,     // at the start of a line in the record loop
  kSequence,      // inside a sequence line
  kHeader,        // copying a ">" header line
  kComment,       // inside a ";" comment line
  kAfterComment,  // at the start of the line after a comment line
  kNameSpace,     // blanks before the name on an IG name line
  kNameWord,      // the name itself
  kSkipLine,      // the rest of an IG name line
};

class Converter {
 public:
  Converter(FILE* in, FILE* out, int lineLen, bool noN, bool toUpper, bool oneLine,
            ConvertKernel kernel)
      : FIG(in),
        lineLen(lineLen),
        oneLine(oneLine),
        pack_(selectPack(kernel, noN, toUpper)),
        input_(in),
        out_(out) {}

  int run();

 private:
  const unsigned char* step(const unsigned char* p, const unsigned char* end);
  const unsigned char* firstLine(const unsigned char* p, const unsigned char* end);
  const unsigned char* firstLineOne(const unsigned char* p);
  const unsigned char* lineStart(const unsigned char* p);
  const unsigned char* header(const unsigned char* p, const unsigned char* end);
  const unsigned char* comment(const unsigned char* p, const unsigned char* end);
  const unsigned char* afterComment(const unsigned char* p);
  const unsigned char* nameSpace(const unsigned char* p);
  const unsigned char* nameWord(const unsigned char* p, const unsigned char* end);
  const unsigned char* skipLine(const unsigned char* p, const unsigned char* end);
  const unsigned char* sequence(const unsigned char* p, const unsigned char* end);

  void startHeader();
  void endNameHeader();
  void beginComment();
  void emitResidues(const unsigned char* p, size_t n);
  int finish(int status);

  FILE* FIG;
  const int lineLen;
  const bool oneLine;
  const PackFn pack_;

  long iCnt = 0;      // residues on the current, unfinished output line
  std::string sFrag;  // annotation waiting for the next IG name line
  FragmentScan scan_;
  State state_ = State::kFirstLine;
  unsigned char firstByte_ = 0;
  bool notFormat_ = false;

  Input input_;
  Output out_;
  unsigned char in_[kInCap];
  unsigned char stage_[kStageWindow + kPackSlack];
};

// Writes staged residues, breaking the line only before a further residue
// that would not fit on the current one.
void Converter::emitResidues(const unsigned char* p, size_t n) {
  if (n == 0) return;
  if (oneLine) {
    out_.put(p, n);
    // The count keeps cycling through 1..lineLen even though no break is
    // written; only whether it is non-zero matters afterwards.
    iCnt = (iCnt + static_cast<long>(n) - 1) % lineLen + 1;
    return;
  }
  // A window's residues with their breaks (at most one per five residues,
  // the shortest line) fit the buffer once it has been flushed.
  unsigned char* w = out_.reserve(n + n / 5 + 1);
  while (n > 0) {
    if (iCnt >= lineLen) {
      *w++ = '\n';
      iCnt = 0;
    }
    size_t k = static_cast<size_t>(lineLen - iCnt);
    if (k > n) k = n;
    w = copyRun(w, p, k);
    iCnt += static_cast<long>(k);
    p += k;
    n -= k;
  }
  out_.commit(w);
}

// Inside sequence lines, line ends are dropped like any other non-residue:
// the sequence only stops at a line that begins with ">" or ";". Work goes
// in windows that fit the staging area.
const unsigned char* Converter::sequence(const unsigned char* p, const unsigned char* end) {
  while (p < end) {
    const unsigned char* windowEnd =
        (end - p > static_cast<long>(kStageWindow)) ? p + kStageWindow : end;
    unsigned char* s = stage_;
    const unsigned char* stop = pack_(p, windowEnd, s, false);
    emitResidues(stage_, static_cast<size_t>(s - stage_));
    if (stop < windowEnd || stop[-1] == '\n') {
      // A mark was found, or the window ends with a line end and the next
      // byte starts a line that must be classified.
      state_ = State::kLineStart;
      return stop;
    }
    p = stop;
  }
  return p;
}

void Converter::startHeader() {
  if (iCnt > 0) out_.put('\n');
  iCnt = 0;
}

const unsigned char* Converter::header(const unsigned char* p, const unsigned char* end) {
  const unsigned char* nl = static_cast<const unsigned char*>(std::memchr(p, '\n', end - p));
  const unsigned char* stop = nl ? nl + 1 : end;
  out_.put(p, static_cast<size_t>(stop - p));
  if (nl) state_ = State::kLineStart;
  return stop;
}

void Converter::beginComment() {
  scan_.reset();
  state_ = State::kComment;
}

const unsigned char* Converter::comment(const unsigned char* p, const unsigned char* end) {
  const unsigned char* nl = static_cast<const unsigned char*>(std::memchr(p, '\n', end - p));
  const unsigned char* stop = nl ? nl + 1 : end;
  scan_.feed(p, static_cast<size_t>(stop - p));
  if (nl) {
    std::string found;
    if (scan_.take(found)) sFrag.swap(found);
    state_ = State::kAfterComment;
  }
  return stop;
}

const unsigned char* Converter::afterComment(const unsigned char* p) {
  if (*p == ';') {
    beginComment();
    return p + 1;
  }
  // The name line: the header is written as its name is read.
  startHeader();
  out_.put('>');
  state_ = State::kNameSpace;
  return p;
}

void Converter::endNameHeader() {
  if (!sFrag.empty()) {
    out_.put(' ');
    out_.put(sFrag.data(), sFrag.size());
    sFrag.clear();
  } else {
    out_.put('\n');
  }
  iCnt = 0;
}

const unsigned char* Converter::nameSpace(const unsigned char* p) {
  unsigned char c = *p;
  if (c == '\n') {  // no name on the line
    endNameHeader();
    state_ = State::kLineStart;
    return p + 1;
  }
  if (c == '\0') {  // the name text ends here
    endNameHeader();
    state_ = State::kSkipLine;
    return p + 1;
  }
  if (!isScanSpace(c)) state_ = State::kNameWord;
  return isScanSpace(c) ? p + 1 : p;
}

const unsigned char* Converter::nameWord(const unsigned char* p, const unsigned char* end) {
  const unsigned char* q = p;
  while (q < end && *q != '\0' && !isScanSpace(*q)) ++q;
  out_.put(p, static_cast<size_t>(q - p));
  if (q == end) return q;
  endNameHeader();
  state_ = (*q == '\n') ? State::kLineStart : State::kSkipLine;
  return q + 1;
}

const unsigned char* Converter::skipLine(const unsigned char* p, const unsigned char* end) {
  const unsigned char* nl = static_cast<const unsigned char*>(std::memchr(p, '\n', end - p));
  if (!nl) return end;
  state_ = State::kLineStart;
  return nl + 1;
}

const unsigned char* Converter::lineStart(const unsigned char* p) {
  if (*p == ';') {
    beginComment();
    return p + 1;
  }
  if (*p == '>') {
    startHeader();
    state_ = State::kHeader;
    return p;
  }
  state_ = State::kSequence;
  return p;
}

// Phase A: lines of one character or less are skipped; the first longer
// line must be a comment or a header.
const unsigned char* Converter::firstLine(const unsigned char* p, const unsigned char* end) {
  while (p < end && *p == '\n') ++p;
  if (p == end) return p;
  firstByte_ = *p;
  state_ = State::kFirstLineOne;
  return p + 1;
}

const unsigned char* Converter::firstLineOne(const unsigned char* p) {
  if (firstByte_ == ';') {
    beginComment();
    return p;
  }
  if (firstByte_ == '>') {
    out_.put('>');
    state_ = State::kHeader;
    return p;
  }
  notFormat_ = true;
  return p;
}

const unsigned char* Converter::step(const unsigned char* p, const unsigned char* end) {
  switch (state_) {
    case State::kFirstLine: return firstLine(p, end);
    case State::kFirstLineOne: return firstLineOne(p);
    case State::kLineStart: return lineStart(p);
    case State::kSequence: return sequence(p, end);
    case State::kHeader: return header(p, end);
    case State::kComment: return comment(p, end);
    case State::kAfterComment: return afterComment(p);
    case State::kNameSpace: return nameSpace(p);
    case State::kNameWord: return nameWord(p, end);
    case State::kSkipLine: return skipLine(p, end);
  }
  return end;
}

// Flushes and closes what the engine was given, turning any failure on the
// way out into the write status.
int Converter::finish(int status) {
  bool writeFailed = !out_.close();
  input_.stop();  // a decoding thread must be done with FIG before it closes
  if (FIG != stdin) std::fclose(FIG);
  if (writeFailed && status != kConvertNotFormat && status != kConvertNoContent) {
    std::fputs("Failed to write output.\n", stderr);
    return kConvertWriteFailed;
  }
  if (status == kConvertReadFailed) std::fputs(input_.message().c_str(), stderr);
  if (status == kConvertNotFormat) std::fputs("File is not in IG or FASTA format.\n", stderr);
  return status;
}

int Converter::run() {
  for (;;) {
    long n = input_.read(in_, kInCap);
    if (n < 0) return finish(kConvertReadFailed);
    if (n == 0) break;
    const unsigned char* p = in_;
    const unsigned char* end = in_ + n;
    while (p < end) {
      p = step(p, end);
      if (notFormat_) return finish(kConvertNotFormat);
    }
    if (out_.failed()) return finish(kConvertWriteFailed);
  }
  switch (state_) {
    case State::kFirstLine:
    case State::kFirstLineOne:
      return finish(kConvertNoContent);
    case State::kNameSpace:
    case State::kNameWord:
      endNameHeader();  // the name line was the last line
      break;
    default:
      break;
  }
  // Input that ends inside a comment block drops its pending annotation.
  out_.put('\n');
  return finish(kConvertOk);
}

}  // namespace

int convert(FILE* FIG, FILE* FFASTA, int lineLen, bool noN, bool toUpper, bool oneLine) {
  return convertWith(FIG, FFASTA, lineLen, noN, toUpper, oneLine, kKernelAuto);
}

bool convertKernelSupported(ConvertKernel kernel) { return kernelSupported(kernel); }

namespace {
const char* const kKernelNames[] = {"auto", "portable", "ssse3", "avx2", "avx512", "neon"};
}

const char* convertKernelName(ConvertKernel kernel) {
  return kKernelNames[static_cast<int>(kernel)];
}

bool convertKernelByName(const char* name, ConvertKernel* kernel) {
  for (int k = 0; k < static_cast<int>(sizeof kKernelNames / sizeof *kKernelNames); ++k) {
    if (std::strcmp(name, kKernelNames[k]) == 0) {
      *kernel = static_cast<ConvertKernel>(k);
      return true;
    }
  }
  return false;
}

int convertWith(FILE* FIG, FILE* FFASTA, int lineLen, bool noN, bool toUpper, bool oneLine,
                ConvertKernel kernel) {
  // The buffers are large; keep them off the stack.
  Converter* converter = new Converter(FIG, FFASTA, lineLen, noN, toUpper, oneLine, kernel);
  int status = converter->run();
  delete converter;
  return status;
}

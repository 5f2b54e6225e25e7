// SPDX-License-Identifier: MIT
// The conversion engine: one pass over the input bytes, in large blocks.
//
// Input is read in blocks into our own buffer and walked by a small state
// machine, so a line of any length is one line and memory does not grow
// with sequence, header or name length. Only a comment line holding
// "FRAGMENT" is kept (from that word on), since it has to wait for its name
// line. Residues are packed by the kernel chosen for this processor, then
// wrapped into the output buffer.
//
// Text from any system: a UTF-8 byte-order mark at the very start is
// skipped, and the first line break decides the line-end convention. When
// it is a lone CR (classic Mac text), every CR, LF or CRLF ends a line from
// then on and headers are written with LF; otherwise only LF ends a line and
// a CR is an ordinary byte, as it always was.
#include <cstring>
#include <memory>
#include <string>

#include "engine/convert.h"
#include "engine/fragment.h"
#include "input/input.h"
#include "kernels/registry.h"
#include "output/output.h"

namespace {

// Residues are packed into a small staging area before being wrapped, so
// that the staging stays in the first-level cache.
constexpr size_t kStageWindow = size_t{8} * 1024;

// The line-end convention, settled by the first line break.
enum class Breaks {
  kUndecided,  // no line break seen yet
  kLf,         // LF ends a line (CRLF too, its CR being part of the line)
  kCr,         // CR, LF and CRLF each end a line
};

enum class State {
  kFirstLine,     // before the first record: at the start of a line
  kFirstLineOne,  // before the first record: one byte of a line seen, which
                  // may be all of it
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
  Converter(ByteSource& in, Sink& out, const ConvertOptions& options)
      : lineLen_(options.lineLen),
        oneLine_(options.oneLine),
        pack_(packFor(options)),
        input_(in, options.threads, options.inputPath),
        out_(&out) {}

  ConvertResult run();

 private:
  const unsigned char* step(const unsigned char* p, const unsigned char* end);
  const unsigned char* firstLine(const unsigned char* p, const unsigned char* end);
  const unsigned char* firstLineOne(const unsigned char* p);
  const unsigned char* lineStart(const unsigned char* p);
  const unsigned char* header(const unsigned char* p, const unsigned char* end);
  const unsigned char* comment(const unsigned char* p, const unsigned char* end);
  const unsigned char* afterComment(const unsigned char* p);
  const unsigned char* nameSpace(const unsigned char* p, const unsigned char* end);
  const unsigned char* nameWord(const unsigned char* p, const unsigned char* end);
  const unsigned char* skipLine(const unsigned char* p, const unsigned char* end);
  const unsigned char* sequence(const unsigned char* p, const unsigned char* end);

  const unsigned char* findBreak(const unsigned char* p, const unsigned char* end);
  const unsigned char* pastBreak(const unsigned char* q, const unsigned char* end);
  bool isBreak(unsigned char c) const { return c == '\n' || (breaks_ == Breaks::kCr && c == '\r'); }
  void startHeader();
  void endNameHeader();
  void beginComment();
  void emitResidues(const unsigned char* p, size_t n);
  ConvertResult finish(int status);
  static PackFn packFor(const ConvertOptions& options);

  const int lineLen_;
  const bool oneLine_;
  const PackFn pack_;

  long column_ = 0;       // residues on the current, unfinished output line
  std::string fragment_;  // annotation waiting for the next IG name line
  FragmentScan scan_;
  State state_ = State::kFirstLine;
  Breaks breaks_ = Breaks::kUndecided;
  bool skipLf_ = false;  // a CR ended the last line; an LF right after it belongs to it
  unsigned char firstByte_ = 0;
  bool notFormat_ = false;

  Input input_;
  Output out_;
  unsigned char stage_[kStageWindow + kPackSlack];
};

// Writes staged residues, breaking the line only before a further residue
// that would not fit on the current one.
void Converter::emitResidues(const unsigned char* p, size_t n) {
  if (n == 0) return;
  if (oneLine_) {
    out_.put(p, n);
    // The count keeps cycling through 1..lineLen_ even though no break is
    // written; only whether it is non-zero matters afterwards.
    column_ = (column_ + static_cast<long>(n) - 1) % lineLen_ + 1;
    return;
  }
  // A window's residues with their breaks (at most one per five residues,
  // the shortest line) fit the buffer once it has been flushed.
  unsigned char* w = out_.reserve(n + n / 5 + 1);
  while (n > 0) {
    if (column_ >= lineLen_) {
      *w++ = '\n';
      column_ = 0;
    }
    size_t k = static_cast<size_t>(lineLen_ - column_);
    if (k > n) k = n;
    w = copyRun(w, p, k);
    column_ += static_cast<long>(k);
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
    const unsigned char* stop = pack_(p, windowEnd, s, breaks_ == Breaks::kCr);
    emitResidues(stage_, static_cast<size_t>(s - stage_));
    if (stop < windowEnd || isBreak(stop[-1])) {
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
  if (column_ > 0) out_.put('\n');
  column_ = 0;
}

// The first line break in [p, end), or null. While the convention is
// undecided, the first break found settles it: a CR followed by an LF is
// LF text, whose break is that LF. The byte after a CR is always at hand
// here (run() holds back a CR that ends a block until then).
const unsigned char* Converter::findBreak(const unsigned char* p, const unsigned char* end) {
  size_t n = static_cast<size_t>(end - p);
  const void* lf = std::memchr(p, '\n', n);
  if (breaks_ == Breaks::kLf) return static_cast<const unsigned char*>(lf);
  size_t before = lf ? static_cast<size_t>(static_cast<const unsigned char*>(lf) - p) : n;
  const unsigned char* q = static_cast<const unsigned char*>(std::memchr(p, '\r', before));
  if (!q) q = static_cast<const unsigned char*>(lf);
  if (!q || breaks_ == Breaks::kCr) return q;
  if (*q == '\r' && (q + 1 == end || q[1] != '\n')) {
    breaks_ = Breaks::kCr;
    return q;
  }
  breaks_ = Breaks::kLf;
  return static_cast<const unsigned char*>(lf);
}

// Where the line after the break at `q` begins. A CRLF is one break, also
// when its LF comes in the next block.
const unsigned char* Converter::pastBreak(const unsigned char* q, const unsigned char* end) {
  if (*q != '\r') return q + 1;
  if (q + 1 == end) {
    skipLf_ = true;
    return q + 1;
  }
  return q[1] == '\n' ? q + 2 : q + 1;
}

const unsigned char* Converter::header(const unsigned char* p, const unsigned char* end) {
  const unsigned char* q = findBreak(p, end);
  if (!q) {
    out_.put(p, static_cast<size_t>(end - p));
    return end;
  }
  state_ = State::kLineStart;
  if (breaks_ == Breaks::kLf) {
    out_.put(p, static_cast<size_t>(q + 1 - p));
    return q + 1;
  }
  out_.put(p, static_cast<size_t>(q - p));
  out_.put('\n');
  return pastBreak(q, end);
}

void Converter::beginComment() {
  scan_.reset();
  state_ = State::kComment;
}

// The annotation keeps the line end, which ends the header it goes into;
// a CR line end becomes an LF like every line end written.
const unsigned char* Converter::comment(const unsigned char* p, const unsigned char* end) {
  const unsigned char* q = findBreak(p, end);
  if (!q) {
    scan_.feed(p, static_cast<size_t>(end - p));
    return end;
  }
  const unsigned char* next;
  if (breaks_ == Breaks::kLf) {
    scan_.feed(p, static_cast<size_t>(q + 1 - p));
    next = q + 1;
  } else {
    static const unsigned char kLf = '\n';
    scan_.feed(p, static_cast<size_t>(q - p));
    scan_.feed(&kLf, 1);
    next = pastBreak(q, end);
  }
  std::string found;
  if (scan_.take(found)) fragment_.swap(found);
  state_ = State::kAfterComment;
  return next;
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
  if (!fragment_.empty()) {
    out_.put(' ');
    out_.put(fragment_.data(), fragment_.size());
    fragment_.clear();
  } else {
    out_.put('\n');
  }
  column_ = 0;
}

const unsigned char* Converter::nameSpace(const unsigned char* p, const unsigned char* end) {
  unsigned char c = *p;
  if (isBreak(c)) {  // no name on the line
    endNameHeader();
    state_ = State::kLineStart;
    return pastBreak(p, end);
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
  if (isBreak(*q)) {
    state_ = State::kLineStart;
    return pastBreak(q, end);
  }
  state_ = State::kSkipLine;
  return q + 1;
}

const unsigned char* Converter::skipLine(const unsigned char* p, const unsigned char* end) {
  const unsigned char* q = findBreak(p, end);
  if (!q) return end;
  state_ = State::kLineStart;
  return pastBreak(q, end);
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

// Before the first record, lines of one character or less are skipped; the first longer
// line must be a comment or a header. A CR that turns out to end a blank
// line makes the text classic Mac text; one followed by an LF makes the
// line "\r\n" a line of two characters, as in LF text.
const unsigned char* Converter::firstLine(const unsigned char* p, const unsigned char* end) {
  for (; p < end; ++p) {
    if (*p == '\n') {
      if (breaks_ == Breaks::kUndecided) breaks_ = Breaks::kLf;
      continue;
    }
    if (*p != '\r' || breaks_ == Breaks::kLf) break;
    if (breaks_ == Breaks::kUndecided && findBreak(p, end) != p) break;
  }
  if (p == end) return p;
  firstByte_ = *p;
  state_ = State::kFirstLineOne;
  return p + 1;
}

const unsigned char* Converter::firstLineOne(const unsigned char* p) {
  // Past the check, the output begins.
  if (firstByte_ == ';' || firstByte_ == '>') out_.begin();
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
  if (skipLf_) {
    skipLf_ = false;
    if (*p == '\n') return p + 1;
  }
  switch (state_) {
    case State::kFirstLine: return firstLine(p, end);
    case State::kFirstLineOne: return firstLineOne(p);
    case State::kLineStart: return lineStart(p);
    case State::kSequence: return sequence(p, end);
    case State::kHeader: return header(p, end);
    case State::kComment: return comment(p, end);
    case State::kAfterComment: return afterComment(p);
    case State::kNameSpace: return nameSpace(p, end);
    case State::kNameWord: return nameWord(p, end);
    case State::kSkipLine: return skipLine(p, end);
  }
  return end;
}

// Closes what the engine was given and says how the run ended. A failure
// to write, also one found only now, turns a run that had something to
// write into a write failure.
ConvertResult Converter::finish(int status) {
  // Input without content converts, whole, into nothing: its output begins
  // too.
  bool whole = status == kConvertOk || status == kConvertNoContent;
  if (whole) out_.begin();
  bool writeFailed = !out_.close(whole ? Ending::kComplete : Ending::kCutShort);
  input_.close();
  if (writeFailed && status != kConvertNotFormat && status != kConvertNoContent) {
    return {kConvertWriteFailed, "Failed to write output.\n"};
  }
  switch (status) {
    case kConvertReadFailed: return {status, input_.message()};
    case kConvertNotFormat: return {status, "File is not in IG or FASTA format.\n"};
    default: return {status, ""};
  }
}

PackFn Converter::packFor(const ConvertOptions& options) {
  const kernels::Kernel& kernel =
      options.kernel ? *options.kernel : kernels::chooseKernel(kernels::cpuFeatures());
  return kernel.select(options.dropN, options.upperCase);
}

ConvertResult Converter::run() {
  unsigned char* block = nullptr;
  long n = input_.next(block);
  const unsigned char* p = block;
  // The first block holds the whole mark when the input begins with one.
  if (n >= 3 && std::memcmp(block, "\xEF\xBB\xBF", 3) == 0) p += 3;
  bool held = false;  // a CR held back from the last block
  bool ended = false;
  while (!ended) {
    if (n < 0) return finish(kConvertReadFailed);
    ended = (n == 0);
    const unsigned char* end = block + n;
    held = false;
    // While the convention is undecided, a CR that ends the block waits for
    // the byte after it, which settles what it is.
    if (!ended && breaks_ == Breaks::kUndecided && end[-1] == '\r') {
      --end;
      held = true;
    }
    while (p < end) {
      p = step(p, end);
      if (notFormat_) {
        return finish(input_.restReadsClean() ? kConvertNotFormat : kConvertReadFailed);
      }
    }
    if (out_.failed()) return finish(kConvertWriteFailed);
    if (ended) break;
    n = input_.next(block);
    p = block;
    // The held CR goes in front of the next block, in the room kept there.
    if (held) {
      block[-1] = '\r';
      --p;
    }
  }
  switch (state_) {
    case State::kFirstLine:
    case State::kFirstLineOne: return finish(kConvertNoContent);
    case State::kNameSpace:
    case State::kNameWord:
      endNameHeader();  // the name line was the last line
      break;
    default: break;
  }
  // Input that ends inside a comment block drops its pending annotation.
  out_.put('\n');
  return finish(kConvertOk);
}

}  // namespace

ConvertResult convert(ByteSource& in, Sink& out, const ConvertOptions& options) {
  // The buffers are large; keep them off the stack.
  auto converter = std::make_unique<Converter>(in, out, options);
  return converter->run();
}

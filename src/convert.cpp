// The conversion engine: one pass over the input bytes, in large blocks.
//
// Input is read in blocks into our own buffer and walked by a small state
// machine, so a line of any length is one line and memory does not grow
// with sequence, header or name length. Only a comment line holding
// "FRAGMENT" is kept (from that word on), since it has to wait for its name
// line. Output is gathered in a buffer and written in large blocks.
#include "convert.h"

#include <immintrin.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>

#include "gzsource.h"

namespace {

constexpr size_t kInCap = 128 * 1024;
constexpr size_t kOutCap = 128 * 1024;
// Residues are compacted into a small staging area before being wrapped, so
// that the staging stays in the first-level cache.
constexpr size_t kStageWindow = 8 * 1024;

// Whitespace as the standard "%s" and "%d" conversions skip it.
bool isScanSpace(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isAsciiLetter(unsigned char c) { return static_cast<unsigned>((c | 0x20) - 'a') < 26u; }

// Parses what "%d" would: optional blanks, an optional sign, at least one
// digit. Advances `p` past it; false when no integer is there.
bool scanInt(const char*& p) {
  const char* q = p;
  while (isScanSpace(static_cast<unsigned char>(*q))) ++q;
  if (*q == '+' || *q == '-') ++q;
  if (*q < '0' || *q > '9') return false;
  while (*q >= '0' && *q <= '9') ++q;
  p = q;
  return true;
}

// Whether `text` (beginning with "FRAGMENT") scans as a word, an integer, the
// arrow and an integer, as the format "%s %d -> %d" would.
bool isFragmentAnnotation(const char* text) {
  const char* p = text;
  while (*p && !isScanSpace(static_cast<unsigned char>(*p))) ++p;
  if (!scanInt(p)) return false;
  while (isScanSpace(static_cast<unsigned char>(*p))) ++p;
  if (p[0] != '-' || p[1] != '>') return false;
  p += 2;
  return scanInt(p);
}

// Finds the annotation on one comment line fed to it in pieces: the text
// from the first "FRAGMENT" to the line end, provided the line also holds
// "->" somewhere.
class FragmentScan {
 public:
  void reset() {
    matched_ = 0;
    prev_ = 0;
    arrow_ = false;
    capturing_ = false;
    text_.clear();
  }

  void feed(const unsigned char* p, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      unsigned char c = p[i];
      if (prev_ == '-' && c == '>') arrow_ = true;
      prev_ = c;
      if (capturing_) {
        text_.push_back(static_cast<char>(c));
        continue;
      }
      // "FRAGMENT" has no repeated prefix, so a mismatch restarts the match.
      if (c == static_cast<unsigned char>(kWord[matched_])) {
        if (++matched_ == 8) {
          capturing_ = true;
          text_.assign(kWord, 8);
        }
      } else {
        matched_ = (c == 'F') ? 1 : 0;
      }
    }
  }

  // At the end of the line: true when the annotation is valid; it is then
  // moved into `out`.
  bool take(std::string& out) {
    if (!capturing_ || !arrow_ || !isFragmentAnnotation(text_.c_str())) return false;
    out.swap(text_);
    return true;
  }

 private:
  static constexpr const char* kWord = "FRAGMENT";
  int matched_ = 0;
  unsigned char prev_ = 0;
  bool arrow_ = false;
  bool capturing_ = false;
  std::string text_;
};

const unsigned char* findLineMark(const unsigned char* p, const unsigned char* end);

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
            ConvertSimd simd)
      : FIG(in), FFASTA(out), lineLen(lineLen), oneLine(oneLine), toUpper(toUpper), noN(noN) {
    for (int c = 0; c < 256; ++c) {
      bool keep = isAsciiLetter(c) || c == '-';
      if (noN && (c == 'n' || c == 'N')) keep = false;
      keep_[c] = keep ? 1 : 0;
      residue_[c] = static_cast<unsigned char>(toUpper && c >= 'a' && c <= 'z' ? c - 32 : c);
    }
    for (int m = 0; m < 256; ++m) {
      int n = 0;
      for (int bit = 0; bit < 8; ++bit) {
        if (m & (1 << bit)) pack_[m][n++] = static_cast<unsigned char>(bit);
      }
      packCount_[m] = static_cast<unsigned char>(n);
      while (n < 8) pack_[m][n++] = 0x80;  // a shuffle index that yields zero
    }
    if (simd == kConvertSimdAuto) {
      // The widest loop first.
      for (ConvertSimd wider : {kConvertSimdCompress, kConvertSimdWide, kConvertSimdShuffle,
                                kConvertSimdBasic}) {
        if (convertSimdSupported(wider)) {
          simd = wider;
          break;
        }
      }
    }
    simd_ = simd;
  }

  int run();

 private:
  // --- output ---
  void put(char c) {
    if (outLen_ == kOutCap) flushOut();
    out_[outLen_++] = c;
  }
  void put(const void* p, size_t n);
  void flushOut();

  // --- the states ---
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
  unsigned char* compact(const unsigned char* p, const unsigned char* end, unsigned char* s);
  unsigned char* compactBlock16(const unsigned char* p, unsigned char* s);
  unsigned char* packBlock(__m128i u, unsigned mask, unsigned char* w);
  const unsigned char* compactToMark(const unsigned char* start, const unsigned char* p,
                                    const unsigned char* end, unsigned char*& s);
  template <bool kNoN, bool kUpper>
  const unsigned char* compactToMarkWide(const unsigned char* p, const unsigned char* end,
                                        unsigned char*& s);
  template <bool kNoN, bool kUpper>
  const unsigned char* compactToMarkCompress(const unsigned char* p, const unsigned char* end,
                                            unsigned char*& s);
  template <typename Loop>
  const unsigned char* withSettings(Loop&& loop);
  void emitResidues(const unsigned char* p, size_t n);
  int finish(int status);
  long readBlock();
  long startInput(long n);

  FILE* FIG;
  FILE* FFASTA;
  const int lineLen;
  const bool oneLine;
  const bool toUpper;
  const bool noN;

  long iCnt = 0;        // residues on the current, unfinished output line
  std::string sFrag;    // annotation waiting for the next IG name line
  FragmentScan scan_;
  State state_ = State::kFirstLine;
  unsigned char firstByte_ = 0;
  bool notFormat_ = false;
  bool writeFailed_ = false;

  unsigned char keep_[256];
  unsigned char residue_[256];
  // For each 8-bit keep mask: the positions of the kept bytes, and how many.
  unsigned char pack_[256][8];
  unsigned char packCount_[256];
  ConvertSimd simd_;  // which packing loop this processor runs

  size_t outLen_ = 0;
  unsigned char in_[kInCap];
  unsigned char out_[kOutCap + 16];  // slack for copyRun
  unsigned char stage_[kStageWindow + 32];

  // Input source; kept after the buffers so that adding it left the layout
  // of the members the conversion loop works on as it was.
  bool atStart_ = true;           // the first block is still to be read
  std::unique_ptr<GzSource> gz_;  // set when the input is gzip
};

void Converter::put(const void* p, size_t n) {
  const char* src = static_cast<const char*>(p);
  while (n > 0) {
    if (outLen_ == kOutCap) flushOut();
    size_t k = kOutCap - outLen_;
    if (k > n) k = n;
    std::memcpy(out_ + outLen_, src, k);
    outLen_ += k;
    src += k;
    n -= k;
  }
}

void Converter::flushOut() {
  if (outLen_ > 0 && !writeFailed_ && std::fwrite(out_, 1, outLen_, FFASTA) != outLen_) {
    writeFailed_ = true;
  }
  outLen_ = 0;
}

// Of the ">" and ";" marks in the block at `block` (one bit per byte in
// `marks`), the first that starts a line, or null. A mark at `start` itself
// does not count: the state machine has already classified that line start.
inline const unsigned char* lineStartMark(uint64_t marks, const unsigned char* block,
                                          const unsigned char* start) {
  for (; marks != 0; marks &= marks - 1) {
    const unsigned char* hit = block + __builtin_ctzll(marks);
    if (hit > start && hit[-1] == '\n') return hit;
  }
  return nullptr;
}

// Copies `n` bytes in 16-byte steps; may write up to 15 bytes past the end
// (the output buffer has slack for that). Faster than a library call for
// the short runs of one output line.
inline unsigned char* copyRun(unsigned char* dst, const unsigned char* src, size_t n) {
  for (size_t i = 0; i < n; i += 16) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i),
                     _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + i)));
  }
  return dst + n;
}

// Writes staged residues, breaking the line only before a further residue
// that would not fit on the current one.
void Converter::emitResidues(const unsigned char* p, size_t n) {
  if (n == 0) return;
  if (oneLine) {
    put(p, n);
    // The count keeps cycling through 1..lineLen even though no break is
    // written; only whether it is non-zero matters afterwards.
    iCnt = (iCnt + static_cast<long>(n) - 1) % lineLen + 1;
    return;
  }
  // A window's residues with their breaks (at most one per five residues,
  // the shortest line) fit the buffer once it has been flushed.
  if (kOutCap - outLen_ < n + n / 5 + 1) flushOut();
  unsigned char* w = out_ + outLen_;
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
  outLen_ = static_cast<size_t>(w - out_);
}

// Upper-cases the ASCII lower-case letters of a block when asked to.
inline __m128i upperBlock(__m128i v, bool toUpper) {
  if (!toUpper) return v;
  __m128i t = _mm_sub_epi8(v, _mm_set1_epi8('a'));
  __m128i lower = _mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(25)), t);
  return _mm_sub_epi8(v, _mm_and_si128(lower, _mm_set1_epi8(0x20)));
}

// One bit per byte of the block: set for the bytes that are kept residues
// (ASCII letters and "-", without n and N when they are dropped).
inline unsigned keptMask(__m128i v, bool noN) {
  __m128i folded = _mm_or_si128(v, _mm_set1_epi8(0x20));
  __m128i t = _mm_sub_epi8(folded, _mm_set1_epi8('a'));
  __m128i letter = _mm_cmpeq_epi8(_mm_min_epu8(t, _mm_set1_epi8(25)), t);
  __m128i kept = _mm_or_si128(letter, _mm_cmpeq_epi8(v, _mm_set1_epi8('-')));
  if (noN) kept = _mm_andnot_si128(_mm_cmpeq_epi8(folded, _mm_set1_epi8('n')), kept);
  return static_cast<unsigned>(_mm_movemask_epi8(kept));
}

unsigned char* Converter::compactBlock16(const unsigned char* p, unsigned char* s) {
  for (int i = 0; i < 16; ++i) {
    unsigned char c = p[i];
    *s = residue_[c];
    s += keep_[c];
  }
  return s;
}

// Copies the kept residues of [p, end) to `s`, upper-cased when asked, and
// returns the end of what was written. `end` never spans a line end.
unsigned char* Converter::compact(const unsigned char* p, const unsigned char* end,
                                  unsigned char* s) {
  while (end - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned mask = keptMask(v, noN);
    if (mask == 0xFFFF) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(s), upperBlock(v, toUpper));
      s += 16;
    } else {
      s = compactBlock16(p, s);
    }
    p += 16;
  }
  for (; p < end; ++p) {
    *s = residue_[*p];
    s += keep_[*p];
  }
  return s;
}

// Packs the kept residues of one 16-byte block (`u`, already upper-cased
// when asked; `mask` has a bit per kept byte) at `w`. Blocks with dropped
// bytes are packed with a byte shuffle, eight bytes at a time, through a
// table indexed by the keep mask.
__attribute__((target("ssse3"), always_inline)) inline unsigned char* Converter::packBlock(
    __m128i u, unsigned mask, unsigned char* w) {
  if (mask == 0xFFFF) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w), u);
    return w + 16;
  }
  unsigned lo = mask & 0xFF, hi = mask >> 8;
  __m128i a = _mm_shuffle_epi8(u, _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pack_[lo])));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(w), a);
  w += packCount_[lo];
  __m128i b = _mm_shuffle_epi8(_mm_srli_si128(u, 8),
                               _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pack_[hi])));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(w), b);
  return w + packCount_[hi];
}

// The same as findLineMark() followed by compact(), in one pass: packs
// [p, end) up to the first line-start mark after `start` and returns where
// it stopped; `s` is moved past what was written.
__attribute__((target("ssse3"))) const unsigned char* Converter::compactToMark(
    const unsigned char* start, const unsigned char* p, const unsigned char* end,
    unsigned char*& s) {
  const __m128i gt = _mm_set1_epi8('>');
  const __m128i semi = _mm_set1_epi8(';');
  unsigned char* w = s;
  while (end - p >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned marks = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, gt), _mm_cmpeq_epi8(v, semi))));
    if (const unsigned char* hit = lineStartMark(marks, p, start)) {
      s = compact(p, hit, w);
      return hit;
    }
    w = packBlock(upperBlock(v, toUpper), keptMask(v, noN), w);
    p += 16;
  }
  // The last few bytes: findLineMark only looks at marks after its start,
  // so start it on the byte before, which has already been looked at.
  const unsigned char* stop = findLineMark(p > start ? p - 1 : p, end);
  s = compact(p, stop, w);
  return stop;
}

// compactToMark() 32 bytes at a time, for processors with 256-bit vectors.
// The settings are template arguments so that each combination gets a loop
// of its own, with nothing in it that the settings do not need.
template <bool kNoN, bool kUpper>
__attribute__((target("avx2"))) const unsigned char* Converter::compactToMarkWide(
    const unsigned char* p, const unsigned char* end, unsigned char*& s) {
  const unsigned char* start = p;
  const __m256i gt = _mm256_set1_epi8('>');
  const __m256i semi = _mm256_set1_epi8(';');
  const __m256i caseBit = _mm256_set1_epi8(0x20);
  const __m256i lowerA = _mm256_set1_epi8('a');
  const __m256i k25 = _mm256_set1_epi8(25);
  const __m256i dash = _mm256_set1_epi8('-');
  const __m256i letterN = _mm256_set1_epi8('n');
  unsigned char* w = s;
  while (end - p >= 32) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    unsigned marks = static_cast<unsigned>(_mm256_movemask_epi8(
        _mm256_or_si256(_mm256_cmpeq_epi8(v, gt), _mm256_cmpeq_epi8(v, semi))));
    if (const unsigned char* hit = lineStartMark(marks, p, start)) {
      s = compact(p, hit, w);
      return hit;
    }
    __m256i folded = _mm256_or_si256(v, caseBit);
    __m256i t = _mm256_sub_epi8(folded, lowerA);
    __m256i letter = _mm256_cmpeq_epi8(_mm256_min_epu8(t, k25), t);
    __m256i kept = _mm256_or_si256(letter, _mm256_cmpeq_epi8(v, dash));
    if (kNoN) kept = _mm256_andnot_si256(_mm256_cmpeq_epi8(folded, letterN), kept);
    unsigned mask = static_cast<unsigned>(_mm256_movemask_epi8(kept));
    // Clearing the case bit of every letter upper-cases the lower-case ones
    // and leaves the rest as they are.
    __m256i u = kUpper ? _mm256_andnot_si256(_mm256_and_si256(letter, caseBit), v) : v;
    if (mask == 0xFFFFFFFFu) {
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(w), u);
      w += 32;
    } else {
      w = packBlock(_mm256_castsi256_si128(u), mask & 0xFFFF, w);
      w = packBlock(_mm256_extracti128_si256(u, 1), mask >> 16, w);
    }
    p += 32;
  }
  s = w;
  return compactToMark(start, p, end, s);
}

// compactToMark() 64 bytes at a time, packing each block with one byte
// compression instead of table shuffles.
template <bool kNoN, bool kUpper>
__attribute__((target("avx512f,avx512bw,avx512vbmi2,popcnt")))
const unsigned char* Converter::compactToMarkCompress(const unsigned char* p,
                                                      const unsigned char* end,
                                                      unsigned char*& s) {
  const unsigned char* start = p;
  const __m512i gt = _mm512_set1_epi8('>');
  const __m512i semi = _mm512_set1_epi8(';');
  const __m512i caseBit = _mm512_set1_epi8(0x20);
  const __m512i lowerA = _mm512_set1_epi8('a');
  const __m512i k25 = _mm512_set1_epi8(25);
  const __m512i dash = _mm512_set1_epi8('-');
  const __m512i letterN = _mm512_set1_epi8('n');
  unsigned char* w = s;
  while (end - p >= 64) {
    __m512i v = _mm512_loadu_si512(p);
    __mmask64 marks = _mm512_cmpeq_epi8_mask(v, gt) | _mm512_cmpeq_epi8_mask(v, semi);
    if (const unsigned char* hit = lineStartMark(marks, p, start)) {
      s = compact(p, hit, w);
      return hit;
    }
    __m512i folded = _mm512_or_si512(v, caseBit);
    __mmask64 letter = _mm512_cmple_epu8_mask(_mm512_sub_epi8(folded, lowerA), k25);
    __mmask64 kept = letter | _mm512_cmpeq_epi8_mask(v, dash);
    if (kNoN) kept &= ~_mm512_cmpeq_epi8_mask(folded, letterN);
    // The lower-case letters are the letters with the case bit set.
    __m512i u = kUpper ? _mm512_mask_sub_epi8(v, _mm512_mask_test_epi8_mask(letter, v, caseBit),
                                              v, caseBit)
                       : v;
    if (kept == ~__mmask64{0}) {
      _mm512_storeu_si512(w, u);
      w += 64;
    } else {
      // Compressing into a register and storing all of it is much faster
      // than the compressing store; the bytes past the kept ones are
      // overwritten by the next block or never looked at.
      _mm512_storeu_si512(w, _mm512_maskz_compress_epi8(kept, u));
      w += __builtin_popcountll(kept);
    }
    p += 64;
  }
  s = w;
  return compactToMark(start, p, end, s);
}

// The first header or comment mark that stands at the start of a line in
// [p, end): a ">" or ";" right after a line end. `p` itself is never a line
// start here (the state machine classifies line starts), so only marks
// after it are looked at.
const unsigned char* findLineMark(const unsigned char* p, const unsigned char* end) {
  const unsigned char* x = p;
  const __m128i gt = _mm_set1_epi8('>');
  const __m128i semi = _mm_set1_epi8(';');
  while (end - x >= 16) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x));
    unsigned m = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, gt), _mm_cmpeq_epi8(v, semi))));
    if (const unsigned char* hit = lineStartMark(m, x, p)) return hit;
    x += 16;
  }
  for (; x < end; ++x) {
    if ((*x == '>' || *x == ';') && x > p && x[-1] == '\n') return x;
  }
  return end;
}

// Calls `loop` with the -unseq and -uc settings as compile-time constants,
// so that the packing loops are instantiated once per combination.
template <typename Loop>
const unsigned char* Converter::withSettings(Loop&& loop) {
  using Yes = std::true_type;
  using No = std::false_type;
  if (noN) return toUpper ? loop(Yes{}, Yes{}) : loop(Yes{}, No{});
  return toUpper ? loop(No{}, Yes{}) : loop(No{}, No{});
}

// Inside sequence lines, line ends are dropped like any other non-residue:
// the sequence only stops at a line that begins with ">" or ";". Work goes
// in windows that fit the staging area.
const unsigned char* Converter::sequence(const unsigned char* p, const unsigned char* end) {
  while (p < end) {
    const unsigned char* windowEnd =
        (end - p > static_cast<long>(kStageWindow)) ? p + kStageWindow : end;
    unsigned char* s = stage_;
    const unsigned char* stop;
    if (simd_ == kConvertSimdCompress) {
      stop = withSettings([&](auto dropN, auto upper) {
        return compactToMarkCompress<decltype(dropN)::value, decltype(upper)::value>(p, windowEnd,
                                                                                   s);
      });
    } else if (simd_ == kConvertSimdWide) {
      stop = withSettings([&](auto dropN, auto upper) {
        return compactToMarkWide<decltype(dropN)::value, decltype(upper)::value>(p, windowEnd, s);
      });
    } else if (simd_ == kConvertSimdShuffle) {
      stop = compactToMark(p, p, windowEnd, s);
    } else {
      stop = findLineMark(p, windowEnd);
      s = compact(p, stop, stage_);
    }
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
  if (iCnt > 0) put('\n');
  iCnt = 0;
}

const unsigned char* Converter::header(const unsigned char* p, const unsigned char* end) {
  const unsigned char* nl = static_cast<const unsigned char*>(std::memchr(p, '\n', end - p));
  const unsigned char* stop = nl ? nl + 1 : end;
  put(p, static_cast<size_t>(stop - p));
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
  put('>');
  state_ = State::kNameSpace;
  return p;
}

void Converter::endNameHeader() {
  if (!sFrag.empty()) {
    put(' ');
    put(sFrag.data(), sFrag.size());
    sFrag.clear();
  } else {
    put('\n');
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
  put(p, static_cast<size_t>(q - p));
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
    put('>');
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
  flushOut();
  if (FFASTA == stdout) {
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) writeFailed_ = true;
  } else if (std::fclose(FFASTA) != 0) {
    writeFailed_ = true;
  }
  if (FIG != stdin) std::fclose(FIG);
  if (writeFailed_ && status != kConvertNotFormat && status != kConvertNoContent) {
    std::fputs("Failed to write output.\n", stderr);
    return kConvertWriteFailed;
  }
  if (status == kConvertReadFailed) std::fputs("Failed to read input.\n", stderr);
  if (status == kConvertNotFormat) std::fputs("File is not in IG or FASTA format.\n", stderr);
  return status;
}

// Reads the next block into the block buffer. -1 on a read error, 0 at end
// of input. Plain input is read straight into the buffer; gzip input is
// recognised by its first block and decompressed into it from then on.
// Called once per block; kept out of line so that the input hook does not
// reshape the conversion loop it would otherwise be inlined into.
__attribute__((noinline)) long Converter::readBlock() {
  if (gz_) return gz_->read(in_, kInCap);
  long n = readRaw(FIG, in_, kInCap);
  if (atStart_) n = startInput(n);
  return n;
}

// Looks at the first block for the gzip magic. A pipe may deliver a single
// byte first; then one more read decides.
long Converter::startInput(long n) {
  atStart_ = false;
  if (n == 1 && in_[0] == 0x1f) {
    long more = readRaw(FIG, in_ + 1, kInCap - 1);
    if (more < 0) return -1;
    n += more;
  }
  if (n < 0 || !hasGzipMagic(in_, static_cast<size_t>(n))) return n;
  gz_.reset(new GzSource(FIG, in_, static_cast<size_t>(n), kInCap));
  return gz_->read(in_, kInCap);
}

int Converter::run() {
  for (;;) {
    long n = readBlock();
    if (n < 0) return finish(kConvertReadFailed);
    if (n == 0) break;
    const unsigned char* p = in_;
    const unsigned char* end = in_ + n;
    while (p < end) {
      p = step(p, end);
      if (notFormat_) return finish(kConvertNotFormat);
    }
    if (writeFailed_) return finish(kConvertWriteFailed);
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
  put('\n');
  return finish(kConvertOk);
}

}  // namespace

int convert(FILE* FIG, FILE* FFASTA, int lineLen, bool noN, bool toUpper, bool oneLine) {
  return convertWith(FIG, FFASTA, lineLen, noN, toUpper, oneLine, kConvertSimdAuto);
}

bool convertSimdSupported(ConvertSimd simd) {
  switch (simd) {
    case kConvertSimdAuto:
    case kConvertSimdBasic:
      return true;
    case kConvertSimdShuffle:
      return __builtin_cpu_supports("ssse3");
    case kConvertSimdWide:
      return __builtin_cpu_supports("avx2");
    case kConvertSimdCompress:
      // The system has to save the wider registers too, which the check
      // includes.
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
             __builtin_cpu_supports("avx512vbmi2");
  }
  return false;
}

int convertWith(FILE* FIG, FILE* FFASTA, int lineLen, bool noN, bool toUpper, bool oneLine,
                ConvertSimd simd) {
  // The buffers are large; keep them off the stack.
  Converter* converter = new Converter(FIG, FFASTA, lineLen, noN, toUpper, oneLine, simd);
  int status = converter->run();
  delete converter;
  return status;
}

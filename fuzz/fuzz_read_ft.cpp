// SPDX-License-Identifier: MIT
// Fuzzes both read_ft readers. Byte 0 picks the reader (bit 0: the one with
// the integer score and the direction suffix); the rest, up to its first
// null byte, is the line.
//
// The oracle is the plain ft scan with unbounded buffers: the count, the
// names and the real values must match it; positions and the integer score
// are the scanned values truncated toward zero (checked where they fit);
// the direction gives isDirect or the "@1"/"@2" suffix; and values the scan
// did not reach keep their previous values.
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "lib/functions.h"

namespace {

constexpr long kUntouched = 0x5eed5eedL;
constexpr double kUntouchedReal = -12345.5;
const char kUntouchedName[] = "\x01untouched";

struct Scan {
  int n;
  std::string tgt, rep;
  double tgtFrom, tgtTo, repFrom, repTo, sim, tranz, score;
  char dir;
};

Scan reference(const std::string& line) {
  Scan s{};
  const size_t room = line.size() + sizeof kUntouchedName;
  std::vector<char> tgt(room), rep(room);
  std::strcpy(tgt.data(), kUntouchedName);
  std::strcpy(rep.data(), kUntouchedName);
  s.sim = s.tranz = s.score = kUntouchedReal;
  s.n = std::sscanf(line.c_str(), "%s %lf %lf %s %lf %lf %c %lf %lf %lf", tgt.data(), &s.tgtFrom,
                    &s.tgtTo, rep.data(), &s.repFrom, &s.repTo, &s.dir, &s.sim, &s.tranz, &s.score);
  s.tgt = tgt.data();
  s.rep = rep.data();
  return s;
}

// The expected integer from a scanned real, when it has one: in range and
// a number. Out-of-range values are the reader's own business.
bool truncates(double d, long got, long limitLow, long limitHigh) {
  if (std::isnan(d) || d <= static_cast<double>(limitLow) || d >= static_cast<double>(limitHigh))
    return true;
  return got == static_cast<long>(d);
}

void checkPositions(const Scan& s, long tgtFrom, long tgtTo, long repFrom, long repTo) {
  const double d[4] = {s.tgtFrom, s.tgtTo, s.repFrom, s.repTo};
  const long got[4] = {tgtFrom, tgtTo, repFrom, repTo};
  const int field[4] = {2, 3, 5, 6};
  for (int k = 0; k < 4; ++k) {
    bool ok = s.n >= field[k] ? truncates(d[k], got[k], LONG_MIN, LONG_MAX) : got[k] == kUntouched;
    if (!ok) fuzzutil::fail("read_ft", "position differs from the plain scan");
  }
}

bool sameReal(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool withSuffix = (data[0] & 1) != 0;
  std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
  text = text.c_str();
  Scan s = reference(text);

  char* line = fuzzutil::exactCopy(text);
  char* tgt = fuzzutil::exactCopy(kUntouchedName, text.size());
  // The suffix reader may add two characters to the rep name.
  char* rep = fuzzutil::exactCopy(kUntouchedName, text.size() + (withSuffix ? 2 : 0));
  long tgtFrom = kUntouched, tgtTo = kUntouched, repFrom = kUntouched, repTo = kUntouched;
  double sim = kUntouchedReal, tranz = kUntouchedReal;

  std::string wantRep = s.rep;
  int wantResult = s.n - 1;
  if (withSuffix) {
    int score = static_cast<int>(kUntouched);
    int result = read_ft(line, tgt, tgtFrom, tgtTo, rep, repFrom, repTo, score, sim, tranz);
    if (s.n >= 7) {
      if (s.dir == 'd')
        wantRep += "@1";
      else if (s.dir == 'c')
        wantRep += "@2";
      else
        wantResult = 0;
    }
    if (result != wantResult) fuzzutil::fail("read_ft", "count differs from the plain scan");
    bool scoreOk = s.n >= 10 ? truncates(s.score, score, INT_MIN, INT_MAX)
                             : score == static_cast<int>(kUntouched);
    if (!scoreOk) fuzzutil::fail("read_ft", "integer score differs from the plain scan");
  } else {
    double score = kUntouchedReal;
    bool isDirect = true, wasDirect = true;
    if (s.n < 7 && (data[0] & 2)) isDirect = wasDirect = false;
    int result =
        read_ft(line, tgt, tgtFrom, tgtTo, rep, repFrom, repTo, score, sim, tranz, isDirect);
    if (result != wantResult) fuzzutil::fail("read_ft", "count differs from the plain scan");
    if (!sameReal(score, s.score)) fuzzutil::fail("read_ft", "score differs from the plain scan");
    if (s.n >= 7 ? isDirect != (s.dir == 'd') : isDirect != wasDirect)
      fuzzutil::fail("read_ft", "direction differs from the plain scan");
  }
  if (s.tgt != tgt || wantRep != rep) fuzzutil::fail("read_ft", "names differ from the plain scan");
  if (!sameReal(sim, s.sim) || !sameReal(tranz, s.tranz))
    fuzzutil::fail("read_ft", "similarity or measure differs from the plain scan");
  checkPositions(s, tgtFrom, tgtTo, repFrom, repTo);
  if (text != line) fuzzutil::fail("read_ft", "changed the line");
  std::free(line);
  std::free(tgt);
  std::free(rep);
  return 0;
}

// SPDX-License-Identifier: MIT
// Fuzzes read_co on any line (the input up to its first null byte).
//
// The oracle is the plain scan of the co layout with unbounded buffers. The
// reader keeps its two separator tokens in a 10-byte buffer, so a separator
// longer than 9 characters must end the scan before it instead of
// overflowing; otherwise the count and every value must match the plain
// scan, and values the scan did not reach must keep their previous values.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "lib/functions.h"

namespace {

constexpr long kUntouched = 0x5eed5eedL;
const char kUntouchedName[] = "\x01untouched";

struct Co {
  std::string tgt, rep;
  long tgtFrom = kUntouched, tgtTo = kUntouched, repFrom = kUntouched, repTo = kUntouched;
  int score = static_cast<int>(kUntouched);
};

// The plain scan; also tells the lengths of the two separator tokens.
int reference(const std::string& line, Co& co, size_t& sep1, size_t& sep2) {
  const size_t room = line.size() + sizeof kUntouchedName;
  std::vector<char> tgt(room), rep(room), t1(line.size() + 1), t2(line.size() + 1);
  std::strcpy(tgt.data(), kUntouchedName);
  std::strcpy(rep.data(), kUntouchedName);
  int n =
      std::sscanf(line.c_str(), "%d %s %ld %s %ld %s %ld %s %ld", &co.score, rep.data(),
                  &co.repFrom, t1.data(), &co.repTo, tgt.data(), &co.tgtFrom, t2.data(), &co.tgtTo);
  co.tgt = tgt.data();
  co.rep = rep.data();
  sep1 = std::strlen(t1.data());
  sep2 = std::strlen(t2.data());
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  text = text.c_str();

  Co want;
  size_t sep1 = 0, sep2 = 0;
  int n = reference(text, want, sep1, sep2);
  int wantResult = n - 1;
  if (n >= 4 && sep1 > 9) {
    wantResult = 2;
    want.repTo = want.tgtFrom = want.tgtTo = kUntouched;
    want.tgt = kUntouchedName;
  } else if (n >= 8 && sep2 > 9) {
    wantResult = 6;
    want.tgtTo = kUntouched;
  }

  char* line = fuzzutil::exactCopy(text);
  // Each name buffer holds the longest token the line can put there.
  char* tgt = fuzzutil::exactCopy(kUntouchedName, text.size());
  char* rep = fuzzutil::exactCopy(kUntouchedName, text.size());
  Co got;
  int result = read_co(line, tgt, got.tgtFrom, got.tgtTo, rep, got.repFrom, got.repTo, got.score);
  got.tgt = tgt;
  got.rep = rep;

  if (result != wantResult) fuzzutil::fail("read_co", "count differs from the plain scan");
  if (got.score != want.score || got.rep != want.rep || got.repFrom != want.repFrom ||
      got.repTo != want.repTo || got.tgt != want.tgt || got.tgtFrom != want.tgtFrom ||
      got.tgtTo != want.tgtTo)
    fuzzutil::fail("read_co", "values differ from the plain scan");
  if (text != line) fuzzutil::fail("read_co", "changed the line");
  std::free(line);
  std::free(tgt);
  std::free(rep);
  return 0;
}

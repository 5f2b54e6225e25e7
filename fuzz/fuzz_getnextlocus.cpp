// SPDX-License-Identifier: MIT
// Fuzzes getNextLocus: the input is a stream of any bytes, walked entry by
// entry until the walker reports the end, and once more after that.
//
// The oracle is a model of the walk over physical lines: a read takes the
// first 1023 bytes of the next line (a longer line's tail is skipped, never
// taken for a line of its own); null bytes are ordinary bytes of a line; a
// name is the first word of the name text as a C string, and a name line
// without a word leaves the previous name.
//
// The walker keeps its last line and name from call to call, also across
// fuzz inputs, so every input starts by walking a fixed one-entry stream
// that puts that state into a known form.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_util.h"
#include "lib/functions.h"

namespace {

const char kResetStream[] = ">\x01reset\n";

class Model {
 public:
  explicit Model(const std::string& in) {
    size_t at = 0;
    while (at < in.size()) {
      size_t nl = in.find('\n', at);
      size_t end = nl == std::string::npos ? in.size() : nl + 1;
      lines_.push_back(in.substr(at, std::min<size_t>(end - at, 1023)));
      at = end;
    }
  }

  // The next name, or false at the end.
  bool next(std::string& out) {
    bool isRead;
    do {
      isRead = read();
    } while (isRead && s_[0] != ';' && s_[0] != '>');
    const char* text;
    if (s_[0] == '>') {
      if (!isRead) return false;
      text = s_.c_str() + 1;
    } else {
      do {
        if (!read()) return false;
      } while (s_[0] == ';');
      text = s_.c_str() + (s_[0] == '>' ? 1 : 0);
    }
    while (*text && std::isspace(static_cast<unsigned char>(*text))) ++text;
    const char* end = text;
    while (*end && !std::isspace(static_cast<unsigned char>(*end))) ++end;
    if (end > text) name_.assign(text, end);
    out = name_;
    return true;
  }

 private:
  bool read() {
    if (next_ == lines_.size()) return false;
    s_ = lines_[next_++];
    return true;
  }

  std::vector<std::string> lines_;
  size_t next_ = 0;
  std::string s_ = kResetStream;  // state left by the reset walk
  std::string name_ = "\x01reset";
};

FILE* openBytes(const void* data, size_t size) {
  FILE* F = fmemopen(const_cast<void*>(data), size, "r");
  if (F == nullptr) fuzzutil::fail("getNextLocus", "fmemopen failed");
  return F;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* reset = openBytes(kResetStream, sizeof kResetStream - 1);
  while (getNextLocus(reset) != nullptr) {
  }
  std::fclose(reset);

  Model model(std::string(reinterpret_cast<const char*>(data), size));
  FILE* F = openBytes(data, size);
  for (size_t calls = 0;; ++calls) {
    std::string want;
    bool more = model.next(want);
    char* got = getNextLocus(F);
    if ((got != nullptr) != more)
      fuzzutil::fail("getNextLocus", "end reported differently from the model");
    if (!more) break;
    if (want != got) fuzzutil::fail("getNextLocus", "name differs from the model");
    if (calls > size + 1) fuzzutil::fail("getNextLocus", "more entries than lines");
  }
  if (getNextLocus(F) != nullptr) fuzzutil::fail("getNextLocus", "a name after the end");
  std::fclose(F);
  return 0;
}

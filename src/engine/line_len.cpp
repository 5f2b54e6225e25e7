// SPDX-License-Identifier: MIT
// The residues per line that `-n TEXT` asks for, read as the command line
// has always read it; the page reads its field by the same rule.
#include <cctype>
#include <climits>

#include "engine/convert.h"

namespace {

// Reads TEXT as "%d" would (leading blanks, a sign, digits; the rest
// ignored). False when no integer is there or it does not fit an int.
bool parseInt(const char* text, int& value) {
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

}  // namespace

int residuesPerLine(int asked) { return asked <= 4 ? 70 : asked; }

bool lineLenFromText(const char* text, int& lineLen) {
  int value = 0;
  if (!parseInt(text, value)) return false;
  lineLen = residuesPerLine(value);
  return true;
}

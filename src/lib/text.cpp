// SPDX-License-Identifier: MIT
// Text helpers: in-place edits of caller-owned lines, small tests on text,
// and a bounded random integer.
//
// Every <cctype> call goes through the unsigned char helpers below: a plain
// char holding a byte above 127 is negative, and handing a negative value
// other than EOF to those functions is undefined.
#include <cctype>
#include <cstdlib>

#include "lib/functions.h"

namespace {

bool isGraphic(char c) { return std::isgraph(static_cast<unsigned char>(c)) != 0; }

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

}  // namespace

char* squeeze(char* line, char cSqz) {
  char* pcRead = line;
  // A null squeeze character would walk past the terminating null.
  while (cSqz != '\0' && *pcRead == cSqz) ++pcRead;
  char* pcWrite = line;
  for (; *pcRead != '\0'; ++pcRead) {
    // Of each run only its last character is kept.
    if (*pcRead == cSqz && pcRead[1] == cSqz) continue;
    *pcWrite++ = *pcRead;
  }
  *pcWrite = '\0';
  return pcWrite;
}

char* squeeze(char* line) {
  char* pcWrite = line;
  for (const char* pcRead = line; *pcRead != '\0'; ++pcRead) {
    if (isGraphic(*pcRead)) *pcWrite++ = *pcRead;
  }
  *pcWrite = '\0';
  return pcWrite;
}

bool starts_with(const char* line, const char* pattern) {
  for (; *pattern != '\0'; ++line, ++pattern) {
    // The end of `line` differs from any pattern character, so a pattern
    // longer than the line fails here without reading past the line's end.
    if (*line != *pattern) return false;
  }
  return true;
}

char convert_esc(char* line) {
  if (line[0] != '\\') return line[0];
  switch (line[1]) {
    case 'a': return '\a';
    case 'b': return '\b';
    case 'f': return '\f';
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'v': return '\v';
    default: return line[1];  // no numeric escapes: "\0" is the digit 0
  }
}

char* convertline(char* line) {
  char* pcRead = line;
  char* pcWrite = line;
  while (*pcRead != '\0') {
    if (*pcRead != '\\') {
      *pcWrite++ = *pcRead++;
      continue;
    }
    // A backslash at the very end has nothing to escape; stop before the
    // terminating null so nothing beyond the text is read.
    if (pcRead[1] == '\0') break;
    *pcWrite++ = convert_esc(pcRead);
    pcRead += 2;
  }
  *pcWrite = '\0';
  return line;
}

char transpose(char c) {
  switch (c) {
    case 'A': return 'T';
    case 'C': return 'G';
    case 'G': return 'C';
    case 'T': return 'A';
    case 'a': return 't';
    case 'c': return 'g';
    case 'g': return 'c';
    case 't': return 'a';
    default: return c;
  }
}

char* toUpper(char* s) {
  if (s == nullptr) return s;
  for (char* pc = s; *pc != '\0'; ++pc) *pc = upper(*pc);
  return s;
}

std::string& toUpper(std::string& s) {
  // Over the whole length: an embedded null does not end a std::string.
  for (char& c : s) c = upper(c);
  return s;
}

bool isEmpty(char* line) {
  for (const char* pc = line; *pc != '\0'; ++pc) {
    if (isGraphic(*pc)) return false;
  }
  return true;
}

const char* getColumn(const char* line, int num) {
  const char* pc = line;
  for (int i = 1; i < num; ++i) {
    // At the end of the text or at a line end no step moves any more, so
    // stop instead of spinning through a large column number.
    if (*pc == '\0' || *pc == '\n') break;
    while (*pc != '\0' && *pc != '\n' && !isGraphic(*pc)) ++pc;
    while (isGraphic(*pc)) ++pc;
  }
  return pc;
}

int uirand(unsigned int maxval) {
  // rand() yields 0 to RAND_MAX: 2147483647 with glibc, only 32767 with
  // Windows' runtime. Scale onto 0..maxval, product first.
  // NOLINTNEXTLINE(cert-msc30-c,cert-msc50-cpp): one draw of rand() is the specified source.
  double x = static_cast<double>(std::rand()) * maxval / static_cast<double>(RAND_MAX);
  long long t = static_cast<long long>(x);
  return static_cast<int>(x - static_cast<double>(t) >= 0.5 ? t + 1 : t);
}

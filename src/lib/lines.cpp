// SPDX-License-Identifier: MIT
// Line readers: a fixed caller buffer (stdio and iostream twins) and a whole
// line of any length into a std::string. Only "\n" ends a line; a carriage
// return before it stays part of the text.
#include <climits>
#include <cstring>
#include <limits>

#include "lib/functions.h"

int readline(char* buff, unsigned long size, FILE* is) {
  // With room for the terminating null only, fgets could never make
  // progress; a caller looping until 1 would spin forever.
  if (size < 2) return 1;
  // fgets takes an int; a smaller capacity than the buffer is always safe.
  const int iSize = size > static_cast<unsigned long>(INT_MAX) ? INT_MAX : static_cast<int>(size);
  if (std::fgets(buff, iSize, is) == nullptr) return 1;
  // An empty text (a NUL read first) has no last character to look at.
  const size_t iLen = std::strlen(buff);
  if (iLen > 0 && buff[iLen - 1] == '\n') buff[iLen - 1] = '\0';
  return 0;
}

int readline(char* buff, unsigned long size, std::istream* is) {
  const unsigned long iMax =
      static_cast<unsigned long>(std::numeric_limits<std::streamsize>::max());
  is->getline(buff, static_cast<std::streamsize>(size > iMax ? iMax : size));
  // A line that did not fit leaves the stream failed as well as end of input.
  return is->fail() ? 1 : 0;
}

namespace {

// Reads one chunk with fgets and returns how many bytes it stored before its
// terminating null, NUL bytes from the stream included (strlen would stop at
// the first of them and miss the line end behind it). The buffer is filled
// with newlines first: fgets writes only the bytes it read and one null, so
// the first newline found is either the line end it read (followed by the
// terminating null) or the filler just behind that null. -1: nothing read.
long readChunk(char* buff, size_t iCap, FILE* is) {
  std::memset(buff, '\n', iCap);
  if (std::fgets(buff, static_cast<int>(iCap), is) == nullptr) return -1;
  const char* pcNl = static_cast<const char*>(std::memchr(buff, '\n', iCap));
  if (pcNl == nullptr) return static_cast<long>(iCap - 1);                // full chunk, no line end
  if (pcNl + 1 < buff + iCap && pcNl[1] == '\0') return pcNl + 1 - buff;  // line end read
  return pcNl - 1 - buff;  // pcNl is filler; the null before it ends the chunk
}

}  // namespace

int getline(FILE* is, std::string& s) {
  s.clear();
  char buff[1024];
  long iLen;
  while ((iLen = readChunk(buff, sizeof buff, is)) >= 0) {
    if (iLen > 0 && buff[iLen - 1] == '\n') {
      s.append(buff, static_cast<size_t>(iLen - 1));
      return 1;
    }
    s.append(buff, static_cast<size_t>(iLen));
  }
  // End of input: a last line without a line end is in `s`, reported by its
  // length; nothing at all gives 0.
  return static_cast<int>(s.size());
}

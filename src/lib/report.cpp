// SPDX-License-Identifier: MIT
// Report helpers: IG-style entry headers, two-row alignment printouts, and a
// walker over the entry names of an IG or FASTA stream.
#include <cctype>
#include <cstring>

#include "lib/functions.h"

namespace {

const int kAlnWidth = 70;

// Number of characters of `pc` before its end, counting at most `iMax`;
// never looks past the terminating null.
int boundedLength(const char* pc, int iMax) {
  int i = 0;
  while (i < iMax && pc[i]) ++i;
  return i;
}

// Reads one line into `sLine`, keeping as much as fits, and reads past the
// rest of a longer line so that its tail is never mistaken for a line of its
// own (a ">" or ";" in the middle of a long sequence line, or the end of a
// long comment taken as the name line). False when nothing could be read;
// `sLine` then keeps the line it held.
bool readWholeLine(char* sLine, int iSize, FILE* F) {
  // Whether the line was cut is told by the buffer's last byte, not by
  // searching the text for its line end: a null byte inside the line would
  // hide the line end and the next line would be swallowed. fgets writes
  // its terminating null there only when it filled the buffer.
  char cLast = sLine[iSize - 1];
  sLine[iSize - 1] = '\x01';
  if (!fgets(sLine, iSize, F)) {
    sLine[iSize - 1] = cLast;
    return false;
  }
  if (sLine[iSize - 1] == '\0' && sLine[iSize - 2] != '\n') {
    int c;
    while ((c = fgetc(F)) != EOF && c != '\n') {
    }
  }
  return true;
}

}  // namespace

void printHeader(FILE* FOUT, const char* pcName) { fprintf(FOUT, ";\n%s\n", pcName); }

void print_aln(FILE* FOUT, char* pcS1, char* pcS2) {
  fputc('\n', FOUT);
  if (!*pcS1 || !*pcS2) return;
  for (;;) {
    char sSimilarity[kAlnWidth + 1];
    int iCols = boundedLength(pcS1, kAlnWidth);
    // Columns past the end of pcS2 have nothing to compare against; they
    // show as mismatches and the second row simply stops there.
    int iCols2 = boundedLength(pcS2, iCols);
    for (int i = 0; i < iCols; ++i) {
      fputc(pcS1[i], FOUT);
      bool isMatch =
          i < iCols2 && pcS1[i] == pcS2[i] && std::isalpha(static_cast<unsigned char>(pcS1[i]));
      sSimilarity[i] = isMatch ? '|' : '-';
    }
    sSimilarity[iCols] = '\0';
    fprintf(FOUT, "\n%s\n", sSimilarity);
    fwrite(pcS2, 1, iCols2, FOUT);
    fputs("\n\n", FOUT);
    // A block shorter than the width, or a second row that ended inside
    // the block, means one of the strings has run out.
    if (iCols < kAlnWidth || iCols2 < iCols) return;
    pcS1 += iCols;
    pcS2 += iCols;
    if (!*pcS1 || !*pcS2) return;
  }
}

char* getNextLocus(FILE* F) {
  // Both buffers live for the whole process: the returned name points into
  // `name`, and at end of input the last line read (possibly by an earlier
  // call) still decides the outcome.
  static char s[1024];
  static char name[1024];
  bool isRead;
  do {
    isRead = readWholeLine(s, sizeof s, F);
  } while (isRead && s[0] != ';' && s[0] != '>');

  const char* pcText;
  if (s[0] == '>') {
    if (!isRead) return nullptr;
    pcText = s + 1;
  } else {
    // A ";" block: the first line after it is the name line, whatever it
    // holds.
    do {
      if (!readWholeLine(s, sizeof s, F)) return nullptr;
    } while (s[0] == ';');
    pcText = s[0] == '>' ? s + 1 : s;
  }
  // A name line without a word leaves the previous name in place.
  sscanf(pcText, "%1023s", name);
  return name;
}

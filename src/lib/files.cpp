// SPDX-License-Identifier: MIT
// File helpers: opening named files with a uniform diagnostic, searching a
// directory list, copying and moving files, and ending the process.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/platform.h"
#include "lib/functions.h"

// Candidate paths of findInPath are built here; a successful call returns it.
// Lives from one call to the next, which makes findInPath non-reentrant.
static char ssPath[256];

FILE* openifilename(const char* fname) {
  if (fname == nullptr) return nullptr;
  FILE* F = platform::openFile(fname, "r");
  if (F == nullptr) std::fprintf(stderr, "Failed to open %s for reading\n", fname);
  return F;
}

FILE* openofilename(const char* fname) {
  if (fname == nullptr) return nullptr;
  FILE* F = platform::openFile(fname, "w");
  if (F == nullptr) std::fprintf(stderr, "Failed to open %s for writing\n", fname);
  return F;
}

std::ifstream* openifs(const char* fname) {
  if (fname == nullptr) return nullptr;
  std::unique_ptr<std::ifstream> pIn(
      new std::ifstream(platform::streamName(fname), std::ios_base::in | std::ios_base::binary));
  if (pIn->fail()) {
    std::cerr << "Failed to open " << fname << " for reading\n";
    return nullptr;
  }
  return pIn.release();
}

std::ofstream* openofs(const char* fname) {
  if (fname == nullptr) return nullptr;
  std::unique_ptr<std::ofstream> pOut(
      new std::ofstream(platform::streamName(fname),
                        std::ios_base::out | std::ios_base::trunc | std::ios_base::binary));
  if (pOut->fail()) {
    std::cerr << "Failed to open " << fname << " for writing\n";
    return nullptr;
  }
  return pOut.release();
}

bool exist(char* pcFName) {
  FILE* F = platform::openFile(pcFName, "r");
  if (F == nullptr) return false;
  std::fclose(F);
  return true;
}

char* findInPath(char* pcPathVar, char* pcFName) {
  if (pcPathVar == nullptr || *pcPathVar == '\0') return nullptr;
  const size_t iNameLen = std::strlen(pcFName);
  const char* pcElem = pcPathVar;
  while (*pcElem != '\0') {
    const char* pcEnd = std::strchr(pcElem, platform::folderListSeparator());
    if (pcEnd == nullptr) pcEnd = pcElem + std::strlen(pcElem);
    const size_t iElemLen = static_cast<size_t>(pcEnd - pcElem);
    // A candidate that does not fit is not tried at all: a cut-off path
    // could name some other file.
    if (iElemLen + 1 + iNameLen < sizeof ssPath) {
      std::memcpy(ssPath, pcElem, iElemLen);
      ssPath[iElemLen] = '/';
      std::memcpy(ssPath + iElemLen + 1, pcFName, iNameLen + 1);
      if (exist(ssPath)) return ssPath;
    }
    if (*pcEnd == '\0') break;
    pcElem = pcEnd + 1;  // a ':' at the very end leaves nothing to try
  }
  return nullptr;
}

namespace {

struct FileCloser {
  void operator()(FILE* F) const { std::fclose(F); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Whether `fdest` names the file already open as FSRC, through any name or
// link. Copying a file onto itself would empty it before it is read.
bool sameFile(FILE* FSRC, const char* fdest) {
  return platform::sameFile(platform::fileId(FSRC), platform::fileId(fdest));
}

int readFailed(const char* fsource) {
  std::fprintf(stderr, "Cannot read file %s\n", fsource);
  return -1;
}

int writeFailed(const char* fdest) {
  std::fprintf(stderr, "Cannot write file %s\n", fdest);
  return -1;
}

}  // namespace

int fcopy(char* fsource, char* fdest) {
  FilePtr FSRC(platform::openFile(fsource, "r"));
  if (!FSRC) {
    std::fprintf(stderr, "Cannot open file %s for reading\n", fsource);
    return -1;
  }
  if (sameFile(FSRC.get(), fdest)) {
    std::fprintf(stderr, "Cannot copy file %s onto itself\n", fsource);
    return -1;
  }
  // Blocks rather than lines: the copy is byte for byte, so NUL bytes and
  // lines of any length arrive unchanged. The first block is read before the
  // destination is opened, so a source that cannot be read at all (a
  // directory, say) leaves the destination untouched.
  char line[1024];
  size_t iGot = std::fread(line, 1, sizeof line, FSRC.get());
  if (std::ferror(FSRC.get())) return readFailed(fsource);

  FILE* FDST = platform::openFile(fdest, "w");
  if (FDST == nullptr) {
    std::fprintf(stderr, "Cannot open file %s for writing\n", fdest);
    return -1;
  }
  bool isWritten = true;
  while (iGot > 0) {
    if (std::fwrite(line, 1, iGot, FDST) != iGot) {
      isWritten = false;
      break;
    }
    iGot = std::fread(line, 1, sizeof line, FSRC.get());
  }
  const bool isRead = !std::ferror(FSRC.get());
  // A full disk often shows only when the buffer is flushed on close.
  isWritten = std::fclose(FDST) == 0 && isWritten;
  if (!isRead) return readFailed(fsource);
  if (!isWritten) return writeFailed(fdest);
  return 0;
}

int fmove(char* fsource, char* fdest) {
  // The source goes only after a complete copy.
  if (fcopy(fsource, fdest) != 0) return -1;
  if (!platform::removeFile(fsource)) {
    std::fprintf(stderr, "Could not delete file %s\n", fsource);
    return -1;
  }
  return 0;
}

void error(const char* message) {
  // The message is written as it stands, never read as a format (a stray
  // conversion would read arguments that are not there); only a doubled
  // percent sign still shrinks to one, as callers write it that way.
  std::string sText;
  for (const char* pc = message; *pc != '\0'; ++pc) {
    sText += *pc;
    if (pc[0] == '%' && pc[1] == '%') ++pc;
  }
  std::fputs(sText.c_str(), stderr);
  std::exit(-1);
}

// SPDX-License-Identifier: MIT
// What the program asks of the system, in one place: processors, the
// identity and real path of files, name limits, removal, and files that
// appear whole or not at all, names and the command line's words. One
// implementation per system (platform_posix.cpp, platform_win32.cpp),
// chosen by CMake; nothing else but the byte layer's descriptor backends
// includes a system header.
//
// Names are UTF-8 on every system. Files are opened in binary mode, so
// that every system reads and writes the same bytes (on Windows no CR is
// added before a line feed, and a Ctrl-Z byte does not end a file).
#ifndef QUENBREL_COMMON_PLATFORM_H
#define QUENBREL_COMMON_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// The command line's words in UTF-8, whatever the system's code page:
// argv() is `argv` itself on POSIX, where words are bytes; on Windows it is
// made from the wide command line. argv() ends with a null pointer.
class Arguments {
 public:
  Arguments(int argc, char** argv);
  int argc() const { return static_cast<int>(words_.size()) - 1; }
  char** argv() { return words_.data(); }

 private:
  std::vector<std::string> storage_;
  std::vector<char*> words_;
};

// Standard input, output and error carry bytes as they are (Windows would
// otherwise translate line ends in them).
void binaryStandardStreams();

// Whether the stream `F` is a terminal, where a line can be redrawn in
// place. On Windows a console, whose output is set here to take the
// terminal's control sequences: a console that cannot take them is none.
bool isTerminal(std::FILE* F);

// Opens the file `name` as std::fopen() does, always in binary mode.
std::FILE* openFile(const std::string& name, const char* mode);

// The name `name` for a file stream's constructor (std::ifstream,
// std::ofstream), read as UTF-8 on every system.
inline std::filesystem::path streamName(const std::string& name) {
  return std::filesystem::u8path(name);
}

// The separator of a list of folders in a variable such as PATH: ':' on
// POSIX, ';' on Windows, where ':' follows a drive letter.
char folderListSeparator();

// The program's name as the command line started it, without its folder
// (and without Windows' ".exe"), for usage texts.
std::string programName(const char* path);

// Memory for a large body of data filled once and held to the end, at
// least `bytes`: backed with large pages where the system
// gives them, since touching fresh memory a small page at a time can cost
// more than filling it. Null when there is none.
struct FreeLargeMemory {
  void operator()(unsigned char* p) const;
};
using LargeMemory = std::unique_ptr<unsigned char, FreeLargeMemory>;
LargeMemory largeMemory(size_t bytes);

// The processors this process may run on (its affinity mask, else those
// online): every layer that sizes its threads asks here. 1 in the browser,
// where no layer may start a thread.
int processorCount();

// Which file a name or an open stream leads to, links followed: two are
// the same file when both are known and equal.
struct FileId {
  bool known = false;
  bool regular = false;  // a regular file (not a pipe, a device, a folder)
  uint64_t device = 0;
  uint64_t node = 0;
};
FileId fileId(const std::string& name);
FileId fileId(std::FILE* F);
FileId descriptorId(int fd);
bool sameFile(const FileId& a, const FileId& b);

// What stands at `name` itself (a link is not followed).
enum class Entry { kNone, kFolder, kOther };
Entry entryAt(const std::string& name);
// Whether `name` leads to a folder (links followed).
bool isFolder(const std::string& name);

// The length of the last part of the path `name` (after the last '/', and
// on Windows the last '\\' or a drive's ':').
size_t baseLength(const std::string& name);

// The longest name the folder of the path `name` takes for its entries.
size_t nameMax(const std::string& name);

// The name a file written whole and renamed into place takes, so that it
// reaches what a write to `name` reaches: where `name` is a link to an
// existing file, that file's path (links resolved); else `name` itself.
std::string writtenName(const std::string& name);

// The absolute path of the file `name`, links resolved, as a file: URI
// holds it after "file://": "/dir/ref.fa" on POSIX, "/C:/dir/ref.fa" on
// Windows. For a file that does not exist yet, its folder's resolved path
// and its own name.
std::string uriPath(const std::string& name);

// Whether this process may take the entry `name` out of its folder, by
// removing it or by renaming another file over it (on Windows: the entry
// is not read-only).
bool mayRemove(const std::string& name);

// Removes the file `name`; true when it is gone (or was never there).
bool removeFile(const std::string& name);

// Cuts the file open as `F` at its current position, after flushing it.
bool truncateHere(std::FILE* F);

// NAME.tmpPROCESS.ATTEMPT beside the final name `name`, NAME cut short
// where the whole would pass the folder's limit `max`, so that every final
// name that fits has one.
std::string temporaryName(const std::string& name, unsigned long process, int attempt, size_t max);

// A file that appears under its name whole or not at all: written under a
// temporary name beside it, given its name by commit(), removed by
// discard() (and when destroyed uncommitted). While such files exist, the
// signals that end a process from outside (a user's Ctrl-C, a terminal
// that hangs up, a full file-size limit; on Windows Ctrl-C, Ctrl-Break and
// the console's closing) remove them first, by handlers
// installed with the first and taken away, the previous ones restored,
// with the last: a host process that converts many files keeps its own
// handlers between runs.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile() { discard(); }
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file for the final name `name`, as the final one
  // would be (its mode follows the umask), under a name of this process
  // that is not taken, cut short where the whole would pass the folder's
  // limit. False, with nothing created, when that fails or the final name
  // cannot be given (a folder holds it, it is too long for the folder).
  bool create(const std::string& name);

  // The stream to write; null before create() and after close().
  std::FILE* stream() const { return F_; }
  const std::string& tempName() const { return temp_; }

  // Closes the stream: false when what was written could not all be.
  bool close();
  // Closes the stream and gives the file its name: false when that fails
  // (the temporary file then stays for discard()).
  bool commit();
  // Closes the stream and removes the temporary file.
  void discard();

 private:
  std::string name_;
  std::string temp_;
  std::FILE* F_ = nullptr;
  int guard_ = -1;  // the file's slot with the signal handlers
};

}  // namespace platform

#endif  // QUENBREL_COMMON_PLATFORM_H

// SPDX-License-Identifier: MIT
// The platform layer for Windows. Names arrive in UTF-8 and go to the wide
// (UTF-16) calls; a file's identity is its volume's serial number and its
// index on that volume, since Windows has no inode numbers.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they need.
#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/platform.h"
#include "common/platform_system.h"
#include "common/win32.h"

namespace platform {

std::wstring wideName(const std::string& name) {
  if (name.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0)
    MultiByteToWideChar(CP_UTF8, 0, name.data(), static_cast<int>(name.size()), &wide[0], n);
  return wide;
}

std::string utf8Name(const std::wstring& wide) {
  if (wide.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string name(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0)
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &name[0], n,
                        nullptr, nullptr);
  return name;
}

// The words of the wide command line, as the C runtime would split them.
// Where it cannot be read, the runtime's own words (in the code page).
Arguments::Arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide != nullptr && count == argc) {
    for (int i = 0; i < count; ++i) storage_.push_back(utf8Name(wide[i]));
  } else {
    for (int i = 0; i < argc; ++i) storage_.push_back(argv[i]);
  }
  if (wide != nullptr) LocalFree(wide);
  for (std::string& word : storage_) words_.push_back(&word[0]);
  words_.push_back(nullptr);
}

void binaryStandardStreams() {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

// _isatty() also says yes for NUL: a console is what has a console mode.
// Its input has no screen buffer and is a terminal as it is; its output
// clears a line only with the virtual terminal sequences on.
bool isTerminal(std::FILE* F) {
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(F)));
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || GetConsoleMode(h, &mode) == 0) return false;
  CONSOLE_SCREEN_BUFFER_INFO screen;
  if (GetConsoleScreenBufferInfo(h, &screen) == 0) return true;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

namespace {

// A C stream over the system's handle `h`, which closes with it; null, with
// the handle closed, when none can be made.
std::FILE* streamOf(HANDLE h, int flags, const char* mode) {
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags | _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* F = _fdopen(fd, mode);
  if (F == nullptr) _close(fd);
  return F;
}

// A folder opened for reading as POSIX opens it: every read fails.
std::FILE* openFolder(const std::wstring& name) {
  return streamOf(CreateFileW(name.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr),
                  _O_RDONLY, "rb");
}

}  // namespace

std::FILE* openFile(const std::string& name, const char* mode) {
  std::string binary = mode;
  if (binary.find('b') == std::string::npos) binary += 'b';
  std::wstring wide = wideName(name);
  std::FILE* F = _wfopen(wide.c_str(), wideName(binary).c_str());
  if (F == nullptr && binary == "rb" && isFolder(name)) F = openFolder(wide);
  return F;
}

char folderListSeparator() { return ';'; }

std::string programName(const char* path) {
  std::string name = path;
  name.erase(0, name.size() - baseLength(name));
  size_t n = name.size();
  if (n > 4 && _stricmp(name.c_str() + n - 4, ".exe") == 0) name.erase(n - 4);
  return name;
}

void FreeLargeMemory::operator()(unsigned char* p) const { std::free(p); }

// Large pages need a privilege that few accounts hold: small ones serve.
LargeMemory largeMemory(size_t bytes) {
  return LargeMemory(static_cast<unsigned char*>(std::malloc(bytes)));
}

// The processors of the process's affinity mask; where the mask says
// nothing (more than one processor group), those active in all groups.
int processorCount() {
  DWORD_PTR process = 0, system = 0;
  if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system) && process != 0) {
    int n = 0;
    for (; process != 0; process &= process - 1) ++n;
    return n;
  }
  DWORD n = GetActiveProcessorCount(ALL_PROCESSOR_GROUPS);
  return n > 0 ? static_cast<int>(n) : 1;
}

namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

// The folder part of the path `name` ("." when it has none; "C:" for
// "C:name", the drive's current folder).
std::string folderOf(const std::string& name) {
  size_t base = name.size() - baseLength(name);
  if (base == 0) return ".";
  if (base == 1 && isSeparator(name[0])) return name.substr(0, 1);
  if (name[base - 1] == ':') return name.substr(0, base);
  if (base == 3 && name[1] == ':') return name.substr(0, 3);
  return name.substr(0, base - 1);
}

// A handle that reads nothing, only what the file is; folders too.
HANDLE openForQuery(const std::string& name) {
  return CreateFileW(wideName(name).c_str(), 0,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Only files on a disk have an identity: a pipe or the console is never
// the same file as another. A handle that the system cannot describe whole
// (Wine's standard handles, made from a descriptor of the host) still has
// its file's index; its volume is then 0, unknown.
FileId handleId(HANDLE h) {
  FileId id;
  if (h == INVALID_HANDLE_VALUE || h == nullptr || GetFileType(h) != FILE_TYPE_DISK) return id;
  BY_HANDLE_FILE_INFORMATION info;
  FILE_ID_INFO index;
  if (GetFileInformationByHandle(h, &info)) {
    id.regular = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    id.device = info.dwVolumeSerialNumber;
    id.node = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  } else if (GetFileInformationByHandleEx(h, FileIdInfo, &index, sizeof index)) {
    FILE_ATTRIBUTE_TAG_INFO tag;
    id.regular = GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) &&
                 (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    id.device = index.VolumeSerialNumber;
    std::memcpy(&id.node, index.FileId.Identifier, sizeof id.node);
  } else {
    return id;
  }
  id.known = true;
  return id;
}

// The absolute path of `name`, links resolved where it exists.
std::string realPathOf(const std::string& name) {
  HANDLE h = openForQuery(name);
  if (h != INVALID_HANDLE_VALUE) {
    std::wstring path(32768, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, &path[0], static_cast<DWORD>(path.size()),
                                        FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(h);
    if (n > 0 && n < path.size()) {
      path.resize(n);
      // "\\?\C:\dir" for a drive, "\\?\UNC\server\share" for a share.
      if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return "\\\\" + utf8Name(path.substr(8));
      if (path.compare(0, 4, L"\\\\?\\") == 0) return utf8Name(path.substr(4));
      return utf8Name(path);
    }
  }
  std::wstring wide = wideName(name);
  DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return name;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(wide.c_str(), n, &full[0], nullptr);
  full.resize(n);
  return utf8Name(full);
}

}  // namespace

FileId fileId(const std::string& name) {
  HANDLE h = openForQuery(name);
  FileId id = handleId(h);
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  return id;
}

FileId fileId(std::FILE* F) { return F == nullptr ? FileId() : descriptorId(_fileno(F)); }

FileId descriptorId(int fd) {
  return fd < 0 ? FileId() : handleId(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
}

// A volume of 0 is one the system could not name: the file's index alone
// decides, and a file is rather taken for the input than overwritten.
bool sameFile(const FileId& a, const FileId& b) {
  return a.known && b.known && a.node == b.node &&
         (a.device == b.device || a.device == 0 || b.device == 0);
}

// A link to a folder is marked a folder as well as a reparse point: like
// lstat(), only a real folder counts.
Entry entryAt(const std::string& name) {
  DWORD attributes = GetFileAttributesW(wideName(name).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return Entry::kNone;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return Entry::kFolder;
  return Entry::kOther;
}

bool isFolder(const std::string& name) {
  HANDLE h = openForQuery(name);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool folder = GetFileInformationByHandle(h, &info) &&
                (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  CloseHandle(h);
  return folder;
}

size_t baseLength(const std::string& name) {
  size_t cut = name.find_last_of("/\\:");
  return cut == std::string::npos ? name.size() : name.size() - cut - 1;
}

// 255 UTF-16 units on every file system Windows writes long names on
// (NTFS, FAT's long names, exFAT, ReFS). Asking the volume would need its
// root, which a network share or Wine's host folders may not answer.
size_t nameMax(const std::string&) { return 255; }

// "/C:/dir/ref.fa": a drive's path after "file://" takes a '/' before it,
// and URIs separate with '/'. A share's "\\server\share\ref.fa" becomes
// "//server/share/ref.fa".
// Links are rare on Windows and need a privilege to make: the name serves.
std::string writtenName(const std::string& name) { return name; }

std::string uriPath(const std::string& name) {
  std::string path;
  if (isFolder(name) || entryAt(name) != Entry::kNone) {
    path = realPathOf(name);
  } else {
    std::string folder = realPathOf(folderOf(name));
    std::string base = name.substr(name.size() - baseLength(name));
    path = folder + (isSeparator(folder.back()) ? "" : "\\") + base;
  }
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  return path.size() > 1 && path[1] == ':' ? "/" + path : path;
}

// A read-only file can be neither removed nor replaced by a rename.
bool mayRemove(const std::string& name) {
  DWORD attributes = GetFileAttributesW(wideName(name).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

bool removeFile(const std::string& name) {
  if (DeleteFileW(wideName(name).c_str())) return true;
  DWORD e = GetLastError();
  return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND;
}

bool truncateHere(std::FILE* F) {
  if (std::fflush(F) != 0) return false;
  long long size = _ftelli64(F);
  return size >= 0 && _chsize_s(_fileno(F), size) == 0;
}

// --- files removed by the console's interrupts -----------------------------
//
// Windows runs the console's handler on a thread of its own while the
// others go on; it reads only fixed slots, each published by an atomic flag
// once its name is complete. The temporary files are opened with the right
// to be deleted while open, so that the handler can remove them at once.

namespace {

constexpr int kSlots = 8;
constexpr size_t kSlotName = 4096;

struct Slot {
  std::atomic<bool> used{false};
  wchar_t name[kSlotName];
};

Slot slots[kSlots];
std::mutex slotsLock;
int slotsTaken = 0;

// Ctrl-C and Ctrl-Break end the process once the files are removed, with
// the status Windows gives for an interrupt, as POSIX's handler ends it by
// the signal: nothing of the run goes on, and no later handler can report
// the run as a success (Wine's own ends it with 0). For the console closed,
// the user logging off and the system shutting down, the system ends the
// process after the handlers: the event is passed on.
BOOL WINAPI removeGuardedFiles(DWORD event) {
  for (Slot& s : slots) {
    if (s.used.load(std::memory_order_acquire)) DeleteFileW(s.name);
  }
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
    TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  return FALSE;
}

}  // namespace

int guard(const std::string& file) {
  std::wstring name = wideName(file);
  if (name.size() >= kSlotName) return -1;
  std::lock_guard<std::mutex> hold(slotsLock);
  for (int i = 0; i < kSlots; ++i) {
    Slot& s = slots[i];
    if (s.used.load(std::memory_order_relaxed)) continue;
    if (slotsTaken++ == 0) SetConsoleCtrlHandler(removeGuardedFiles, TRUE);
    std::memcpy(s.name, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    s.used.store(true, std::memory_order_release);
    return i;
  }
  return -1;
}

void unguard(int slot) {
  if (slot < 0 || slot >= kSlots) return;
  std::lock_guard<std::mutex> hold(slotsLock);
  slots[slot].used.store(false, std::memory_order_release);
  if (--slotsTaken == 0) SetConsoleCtrlHandler(removeGuardedFiles, FALSE);
}

// Created only if no file has the name, not inherited by child processes,
// and open to deletion by the console's handler.
std::FILE* createNewFile(const std::string& name, bool& taken) {
  taken = false;
  HANDLE h = CreateFileW(wideName(name).c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD e = GetLastError();
    taken = e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS;
    return nullptr;
  }
  return streamOf(h, 0, "wb");
}

unsigned long processId() { return GetCurrentProcessId(); }

// Windows' rename() fails where the final name is taken: MoveFileExW
// replaces it.
bool replaceFile(const std::string& from, const std::string& to) {
  return MoveFileExW(wideName(from).c_str(), wideName(to).c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace platform

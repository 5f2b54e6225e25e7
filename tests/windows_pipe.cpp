// SPDX-License-Identifier: MIT
// Test helper of the Windows build (windows_test.sh): starts a program with
// a Windows pipe as its standard input, writes to it what this helper reads
// from its own standard input, and then holds the pipe open, silent, for
// the seconds given: a program that has no use for more input must end
// meanwhile. Wine cannot cancel a read of a pipe of its host, so a pipe
// made here is the one a Windows shell would give.
//
//   windows_pipe SECONDS PROGRAM [WORDS...]
//
// Prints "ended" or "waited" and ends with the program's status (99 when
// it waited, 98 when it could not be started).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they need.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The command line of `words`, each quoted as the C runtime splits them.
std::wstring commandLine(int argc, wchar_t** argv) {
  std::wstring line;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) line += L' ';
    line += L'"';
    for (const wchar_t* c = argv[i]; *c != L'\0'; ++c) {
      if (*c == L'"') line += L'\\';
      line += *c;
    }
    line += L'"';
  }
  return line;
}

std::string readAll(HANDLE in) {
  std::string bytes;
  char buf[65536];
  DWORD got = 0;
  while (ReadFile(in, buf, sizeof buf, &got, nullptr) && got > 0) bytes.append(buf, got);
  return bytes;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argv == nullptr || argc < 3) {
    std::fputs("usage: windows_pipe SECONDS PROGRAM [WORDS...]\n", stderr);
    return 2;
  }
  DWORD seconds = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
  std::string input = readAll(GetStdHandle(STD_INPUT_HANDLE));

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return 98;
  SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW start{};
  start.cb = sizeof start;
  start.dwFlags = STARTF_USESTDHANDLES;
  start.hStdInput = readEnd;
  start.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  std::wstring line = commandLine(argc - 2, argv + 2);
  PROCESS_INFORMATION child{};
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &start,
                      &child))
    return 98;
  CloseHandle(readEnd);

  // The program may end before it has read everything: a failed write is
  // no failure here.
  DWORD put = 0;
  WriteFile(writeEnd, input.data(), static_cast<DWORD>(input.size()), &put, nullptr);
  bool ended = WaitForSingleObject(child.hProcess, seconds * 1000) == WAIT_OBJECT_0;
  CloseHandle(writeEnd);
  WaitForSingleObject(child.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(child.hProcess, &status);
  _setmode(_fileno(stderr), _O_BINARY);
  std::fputs(ended ? "ended\n" : "waited\n", stderr);
  return ended ? static_cast<int>(status) : 99;
}

// SPDX-License-Identifier: MIT
// Command-line collectors and stream binders.
#include <cstdarg>
#include <cstring>
#include <vector>

#include "common/platform.h"
#include "lib/functions.h"

namespace {

// Removes `count` elements at `at`, moving the rest (and the terminating
// null) down so the vector stays contiguous and in order.
void removeArgs(char** argv, int at, int count) {
  int i = at;
  do {
    argv[i] = argv[i + count];
  } while (argv[i++] != nullptr);
}

// The names passed after `argc`: at most `argc` of them, stopping early at a
// null name.
std::vector<const char*> collectNames(int argc, va_list ap) {
  std::vector<const char*> names;
  for (int i = 0; i < argc; ++i) {
    const char* name = va_arg(ap, const char*);
    if (name == nullptr) break;
    names.push_back(name);
  }
  return names;
}

bool beginsWith(const char* word, const char* name, size_t nameLen) {
  return std::strncmp(word, name, nameLen) == 0;
}

// Consumes every occurrence of one valued option. False when the option is
// the last word and so has no value.
bool takeOption(char** argv, ARGMAP& argmap, const char* name) {
  size_t nameLen = std::strlen(name);
  int i = 0;
  while (argv[i] != nullptr) {
    const char* word = argv[i];
    if (!beginsWith(word, name, nameLen)) {
      ++i;
      continue;
    }
    if (word[nameLen] != '\0') {  // glued form: -n60
      argmap[name] = word + nameLen;
      removeArgs(argv, i, 1);
    } else if (argv[i + 1] == nullptr) {
      std::fprintf(stderr, "Bad argument to %s option\n", name);
      return false;
    } else {
      argmap[name] = argv[i + 1];
      removeArgs(argv, i, 2);
    }
  }
  return true;
}

void takeFlag(char** argv, ARGMAP& argmap, const char* name) {
  int i = 0;
  while (argv[i] != nullptr) {
    if (std::strcmp(argv[i], name) == 0) {
      argmap[name] = "";
      removeArgs(argv, i, 1);
    } else {
      ++i;
    }
  }
}

}  // namespace

// NOLINTNEXTLINE(cert-dcl50-cpp): the option names come as C variadic arguments by design.
int getoptions(char** argv, ARGMAP& argmap, int argc, ...) {
  va_list ap;
  va_start(ap, argc);
  std::vector<const char*> names = collectNames(argc, ap);
  va_end(ap);
  for (const char* name : names) {
    if (!takeOption(argv, argmap, name)) return -1;
  }
  return static_cast<int>(argmap.size());
}

// NOLINTNEXTLINE(cert-dcl50-cpp): the flag names come as C variadic arguments by design.
int getflags(char** argv, ARGMAP& argmap, int argc, ...) {
  va_list ap;
  va_start(ap, argc);
  std::vector<const char*> names = collectNames(argc, ap);
  va_end(ap);
  for (const char* name : names) takeFlag(argv, argmap, name);
  return static_cast<int>(argmap.size());
}

char** assigninput(FILE*& F, char** argv) {
  char* operand = argv[1];
  if (operand == nullptr) return nullptr;
  if (operand[0] == '-') {
    F = stdin;
    return argv + 1;
  }
  F = platform::openFile(operand, "r");
  if (F == nullptr) {
    std::fprintf(stderr, "Bad file name %s\n", operand);
    return nullptr;
  }
  return argv + 1;
}

char** assigninput(std::istream*& fin, char** argv) {
  char* operand = argv[1];
  if (operand == nullptr) return nullptr;
  if (operand[0] == '-') {
    fin = &std::cin;
    return argv + 1;
  }
  // The stream is handed over even when the open fails: the caller owns it.
  std::ifstream* file =
      new std::ifstream(platform::streamName(operand), std::ios_base::in | std::ios_base::binary);
  fin = file;
  if (!file->is_open() || file->fail()) {
    std::cerr << "Failed to open " << operand << " for reading\n";
    return nullptr;
  }
  return argv + 1;
}

int assignoutput(FILE*& F, char* fname) {
  F = platform::openFile(fname, "w");
  if (F == nullptr) {
    std::fprintf(stderr, "Failed to open %s for writing\n", fname);
    return 0;
  }
  return 1;
}

char** assignoutput(FILE*& F, char** argv) {
  char* operand = argv[1];
  if (operand == nullptr) {
    F = stdout;
    return argv;
  }
  if (operand[0] == '-') {
    F = stdout;
    return argv + 1;
  }
  return assignoutput(F, operand) ? argv + 1 : nullptr;
}

int assignoutput(std::ostream*& fout, char* fname) {
  if (fname == nullptr) return 0;
  if (fname[0] == '-') {
    fout = &std::cout;
    return 1;
  }
  std::ofstream* file =
      new std::ofstream(platform::streamName(fname),
                        std::ios_base::out | std::ios_base::trunc | std::ios_base::binary);
  fout = file;
  if (!file->is_open() || file->fail()) {
    std::cerr << "Failed to open " << fname << " for writing\n";
    return 0;
  }
  return 1;
}

char** assignoutput(std::ostream*& fout, char** argv) {
  char* operand = argv[1];
  if (operand == nullptr) {
    fout = &std::cout;
    return argv;
  }
  return assignoutput(fout, operand) ? argv + 1 : nullptr;
}

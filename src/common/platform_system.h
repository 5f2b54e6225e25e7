// SPDX-License-Identifier: MIT
// What each system's file of the platform layer gives the part that every
// system shares (platform.cpp): the files that appear whole are made of
// these.
#ifndef QUENBREL_COMMON_PLATFORM_SYSTEM_H
#define QUENBREL_COMMON_PLATFORM_SYSTEM_H

#include <cstdio>
#include <string>

namespace platform {

// This process's number, for temporary names.
unsigned long processId();

// Creates the file `name` for writing, only if no file has that name, and
// so that no program this one starts inherits it. Null when that fails,
// with `taken` telling whether the name was taken.
std::FILE* createNewFile(const std::string& name, bool& taken);

// Gives the file `from` the name `to`, replacing a file that has it.
bool replaceFile(const std::string& from, const std::string& to);

// Removes the file `name` should the process be ended from outside (a
// signal, a console's event) until unguard(): -1 when there is no room left
// (the file is then not guarded), else its slot.
int guard(const std::string& name);
void unguard(int slot);

}  // namespace platform

#endif  // QUENBREL_COMMON_PLATFORM_SYSTEM_H

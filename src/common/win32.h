// SPDX-License-Identifier: MIT
// What the Windows files of the platform layer and the byte layer share:
// names in UTF-8 for the rest of the program, UTF-16 for the system.
#ifndef QUENBREL_COMMON_WIN32_H
#define QUENBREL_COMMON_WIN32_H

#include <string>

namespace platform {

std::wstring wideName(const std::string& name);
std::string utf8Name(const std::wstring& wide);

}  // namespace platform

#endif  // QUENBREL_COMMON_WIN32_H

// SPDX-License-Identifier: MIT
// What the platform layer does the same way on every system.
#include <string>

#include "common/platform.h"

namespace platform {

std::string temporaryName(const std::string& name, unsigned long process, int attempt, size_t max) {
  std::string tail = ".tmp" + std::to_string(process) + "." + std::to_string(attempt);
  size_t base = baseLength(name);
  size_t keep = name.size();
  if (base + tail.size() > max) keep -= base + tail.size() - max;
  return name.substr(0, keep) + tail;
}

}  // namespace platform

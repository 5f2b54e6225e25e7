// SPDX-License-Identifier: MIT
// What the platform layer does the same way on every system.
#include <string>

#include "common/platform.h"
#include "common/platform_system.h"

namespace platform {

std::string temporaryName(const std::string& name, unsigned long process, int attempt, size_t max) {
  std::string tail = ".tmp" + std::to_string(process) + "." + std::to_string(attempt);
  size_t base = baseLength(name);
  size_t keep = name.size();
  if (base + tail.size() > max) keep -= base + tail.size() - max;
  return name.substr(0, keep) + tail;
}

bool AtomicFile::create(const std::string& name) {
  discard();
  name_ = name;
  size_t max = nameMax(name);
  // The final name must be one a rename can give at the end.
  if (baseLength(name) > max || isFolder(name)) return false;
  for (int attempt = 0; attempt < 100; ++attempt) {
    temp_ = temporaryName(name, processId(), attempt, max);
    // Guarded before it exists: a signal between the two leaves nothing.
    guard_ = guard(temp_);
    bool taken = false;
    F_ = createNewFile(temp_, taken);
    if (F_ != nullptr) return true;
    unguard(guard_);
    guard_ = -1;
    if (!taken) break;
  }
  temp_.clear();
  return false;
}

bool AtomicFile::close() {
  if (F_ == nullptr) return true;
  bool ok = std::fclose(F_) == 0;
  F_ = nullptr;
  return ok;
}

bool AtomicFile::commit() {
  if (!close() || temp_.empty() || !replaceFile(temp_, name_)) return false;
  temp_.clear();
  unguard(guard_);
  guard_ = -1;
  return true;
}

void AtomicFile::discard() {
  close();
  if (!temp_.empty()) removeFile(temp_);
  temp_.clear();
  unguard(guard_);
  guard_ = -1;
}

}  // namespace platform

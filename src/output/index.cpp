// SPDX-License-Identifier: MIT
// The index files of the output, under temporary names until the run ends.
#include "output/index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "common/bgzf_format.h"
#include "output/temp_files.h"

namespace {

// The longest name the folder of the path `name` takes for its entries.
size_t nameMax(const std::string& name) {
  size_t slash = name.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  long max = pathconf(dir.c_str(), _PC_NAME_MAX);
  return max > 0 ? static_cast<size_t>(max) : 255;
}

size_t baseLength(const std::string& name) {
  size_t slash = name.rfind('/');
  return slash == std::string::npos ? name.size() : name.size() - slash - 1;
}

// The final name can be given by rename() at the end: it fits the folder's
// limit, and no folder holds it.
bool nameCanBeGiven(const std::string& name, size_t max) {
  struct stat st;
  if (baseLength(name) > max) return false;
  return stat(name.c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
}

// NAME.tmpPID.N beside the final name, NAME cut short where the whole would
// pass the folder's limit, so that every final name that fits has one.
std::string tempName(const std::string& name, int attempt, size_t max) {
  std::string tail = ".tmp" + std::to_string(getpid()) + "." + std::to_string(attempt);
  size_t base = baseLength(name);
  size_t keep = name.size();
  if (base + tail.size() > max) keep -= base + tail.size() - max;
  return name.substr(0, keep) + tail;
}

}  // namespace

std::string faiName(const std::string& outName) { return outName + ".fai"; }
std::string gziName(const std::string& outName) { return outName + ".gzi"; }

void removeStaleIndex(const std::string& outName, int keepFd) {
  struct stat keep;
  bool haveKeep = keepFd >= 0 && fstat(keepFd, &keep) == 0;
  for (const std::string& name : {faiName(outName), gziName(outName)}) {
    struct stat st;
    if (haveKeep && stat(name.c_str(), &st) == 0 && st.st_dev == keep.st_dev &&
        st.st_ino == keep.st_ino)
      continue;
    // unlink() leaves a folder of that name alone.
    unlink(name.c_str());
  }
}

// An index that was not committed must not stay behind.
OutputIndex::~OutputIndex() { discard(); }

// The temporary file is created as the final one would be (its mode
// follows the umask), under a name of this process that is not taken.
bool OutputIndex::create(File& f, const std::string& name) {
  f.name = name;
  size_t max = nameMax(name);
  if (!nameCanBeGiven(name, max)) return fail(f);
  for (int attempt = 0; attempt < 100; ++attempt) {
    f.temp = tempName(name, attempt, max);
    // Guarded before it exists: a signal between the two leaves nothing.
    f.guard = guardTempFile(f.temp);
    int fd = ::open(f.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      bool taken = errno == EEXIST;
      unguardTempFile(f.guard);
      f.guard = -1;
      if (taken) continue;
      break;
    }
    f.F = fdopen(fd, "wb");
    if (f.F == nullptr) {
      ::close(fd);
      removeTemp(f);
      break;
    }
    return true;
  }
  f.temp.clear();
  return fail(f);
}

bool OutputIndex::fail(const File& f) {
  if (message_.empty()) message_ = "Failed to write the index " + f.name + "\n";
  return false;
}

bool OutputIndex::open(const std::string& outName, bool gzi) {
  opened_ = true;
  gzi_ = gzi;
  if (!create(faiFile_, faiName(outName))) return false;
  fai_ = std::make_unique<FaidxBuilder>(faiFile_.F);
  if (gzi_) {
    if (!create(gziFile_, gziName(outName))) return false;
    // The number of entries comes first; it is known at the end.
    unsigned char count[8] = {};
    if (std::fwrite(count, 1, sizeof count, gziFile_.F) != sizeof count) gziFile_.failed = true;
  }
  return true;
}

void OutputIndex::block(uint64_t compressed, uint64_t plain) {
  if (!gzi_ || gziFile_.failed) return;
  unsigned char entry[16];
  writeLe64(entry, compressed);
  writeLe64(entry + 8, plain);
  if (std::fwrite(entry, 1, sizeof entry, gziFile_.F) != sizeof entry) gziFile_.failed = true;
  ++entries_;
}

bool OutputIndex::close(File& f) {
  if (f.F == nullptr) return !f.failed;
  if (std::fclose(f.F) != 0) f.failed = true;
  f.F = nullptr;
  return !f.failed;
}

bool OutputIndex::commit() {
  if (fai_ && !fai_->end()) faiFile_.failed = true;
  if (!close(faiFile_)) return fail(faiFile_);
  if (gzi_) {
    unsigned char count[8];
    writeLe64(count, entries_);
    if (std::fseek(gziFile_.F, 0, SEEK_SET) != 0 ||
        std::fwrite(count, 1, sizeof count, gziFile_.F) != sizeof count)
      gziFile_.failed = true;
    if (!close(gziFile_)) return fail(gziFile_);
    if (!rename(gziFile_)) return fail(gziFile_);
  }
  if (!rename(faiFile_)) {
    // The .gzi alone would describe the output after a failed run.
    if (gzi_) unlink(gziFile_.name.c_str());
    return fail(faiFile_);
  }
  opened_ = false;
  return true;
}

bool OutputIndex::rename(File& f) {
  if (std::rename(f.temp.c_str(), f.name.c_str()) != 0) return false;
  f.temp.clear();
  unguardTempFile(f.guard);
  f.guard = -1;
  return true;
}

void OutputIndex::removeTemp(File& f) {
  if (!f.temp.empty()) unlink(f.temp.c_str());
  f.temp.clear();
  unguardTempFile(f.guard);
  f.guard = -1;
}

void OutputIndex::discard() {
  if (!opened_) return;
  for (File* f : {&faiFile_, &gziFile_}) {
    if (f->F != nullptr) std::fclose(f->F);
    f->F = nullptr;
    removeTemp(*f);
  }
  opened_ = false;
}

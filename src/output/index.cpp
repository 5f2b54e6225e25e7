// SPDX-License-Identifier: MIT
// The index files of the output, under temporary names until the run ends.
#include "index.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

void putLe64(unsigned char* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>((v >> (8 * i)) & 0xff);
}

}  // namespace

// An index that was not committed must not stay behind.
OutputIndex::~OutputIndex() { discard(); }

// The temporary file is created as the final one would be (its mode
// follows the umask), under a name of this process that is not taken.
bool OutputIndex::create(File& f, const std::string& name) {
  f.name = name;
  for (int attempt = 0; attempt < 100; ++attempt) {
    f.temp = name + ".tmp" + std::to_string(getpid()) + "." + std::to_string(attempt);
    int fd = ::open(f.temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;
    if (fd >= 0) f.F = fdopen(fd, "wb");
    if (f.F == nullptr) {
      if (fd >= 0) {
        ::close(fd);
        unlink(f.temp.c_str());
      }
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
  // An index of an earlier output of this name describes nothing once the
  // output is rewritten. Gone now, it is also not replaced at the end, which
  // some file systems answer by writing the new file out at once.
  unlink((outName + ".fai").c_str());
  unlink((outName + ".gzi").c_str());
  if (!create(fai_file_, outName + ".fai")) return false;
  fai_.reset(new FaidxBuilder(fai_file_.F));
  if (gzi_) {
    if (!create(gzi_file_, outName + ".gzi")) return false;
    // The number of entries comes first; it is known at the end.
    unsigned char count[8] = {};
    if (std::fwrite(count, 1, sizeof count, gzi_file_.F) != sizeof count) gzi_file_.failed = true;
  }
  return true;
}

void OutputIndex::block(uint64_t compressed, uint64_t plain) {
  if (!gzi_ || gzi_file_.failed) return;
  unsigned char entry[16];
  putLe64(entry, compressed);
  putLe64(entry + 8, plain);
  if (std::fwrite(entry, 1, sizeof entry, gzi_file_.F) != sizeof entry) gzi_file_.failed = true;
  ++entries_;
}

bool OutputIndex::close(File& f) {
  if (f.F == nullptr) return !f.failed;
  if (std::fclose(f.F) != 0) f.failed = true;
  f.F = nullptr;
  return !f.failed;
}

bool OutputIndex::commit() {
  if (fai_ && !fai_->end()) fai_file_.failed = true;
  if (!close(fai_file_)) return fail(fai_file_);
  if (gzi_) {
    unsigned char count[8];
    putLe64(count, entries_);
    if (std::fseek(gzi_file_.F, 0, SEEK_SET) != 0 ||
        std::fwrite(count, 1, sizeof count, gzi_file_.F) != sizeof count)
      gzi_file_.failed = true;
    if (!close(gzi_file_)) return fail(gzi_file_);
    if (std::rename(gzi_file_.temp.c_str(), gzi_file_.name.c_str()) != 0) return fail(gzi_file_);
    gzi_file_.temp.clear();
  }
  if (std::rename(fai_file_.temp.c_str(), fai_file_.name.c_str()) != 0) {
    // The .gzi alone would describe the output after a failed run.
    if (gzi_) unlink(gzi_file_.name.c_str());
    return fail(fai_file_);
  }
  fai_file_.temp.clear();
  opened_ = false;
  return true;
}

void OutputIndex::discard() {
  if (!opened_) return;
  for (File* f : {&fai_file_, &gzi_file_}) {
    if (f->F != nullptr) std::fclose(f->F);
    f->F = nullptr;
    if (!f->temp.empty()) unlink(f->temp.c_str());
    f->temp.clear();
    // unlink() leaves a directory of that name alone.
    if (!f->name.empty()) unlink(f->name.c_str());
  }
  opened_ = false;
}

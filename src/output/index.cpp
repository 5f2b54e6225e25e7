// SPDX-License-Identifier: MIT
// The index files of the output, under temporary names until the run ends.
#include "output/index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

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

bool endsWith(const std::string& text, size_t end, const char* tail) {
  size_t k = std::strlen(tail);
  return end >= k && text.compare(end - k, k, tail) == 0;
}

// The length of `name` without a sequence extension and a compression
// extension after it, or npos when it has none; only the last part of a
// path counts.
size_t stemLength(const std::string& name) {
  static const char* const kCompressed[] = {".gz", ".bgz", ".zst"};
  static const char* const kSequence[] = {".fa", ".fasta", ".fas", ".fna", ".faa", ".ffn", ".frn"};
  size_t base = name.size() - baseLength(name);
  size_t end = name.size();
  for (const char* ext : kCompressed) {
    if (endsWith(name, end, ext)) {
      end -= std::strlen(ext);
      break;
    }
  }
  for (const char* ext : kSequence) {
    if (endsWith(name, end, ext) && end - std::strlen(ext) >= base) return end - std::strlen(ext);
  }
  return std::string::npos;
}

// The absolute path of the file `name`, links resolved; as given, made
// absolute, when that cannot be found.
std::string realPath(const std::string& name) {
  char resolved[PATH_MAX];
  if (realpath(name.c_str(), resolved) != nullptr) return resolved;
  if (!name.empty() && name[0] == '/') return name;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return name;
  return std::string(cwd) + "/" + name;
}

}  // namespace

std::string faiName(const std::string& outName) { return outName + ".fai"; }
std::string gziName(const std::string& outName) { return outName + ".gzi"; }
std::string dictName(const std::string& outName) {
  size_t stem = stemLength(outName);
  return (stem == std::string::npos ? outName : outName.substr(0, stem)) + ".dict";
}

void removeStaleIndex(const std::string& outName, int keepFd) {
  struct stat keep;
  bool haveKeep = keepFd >= 0 && fstat(keepFd, &keep) == 0;
  for (const std::string& name : {faiName(outName), gziName(outName), dictName(outName)}) {
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
  if (message_.empty())
    message_ = std::string("Failed to write the ") + f.what + " " + f.name + "\n";
  return false;
}

bool OutputIndex::open(const std::string& outName, const IndexFiles& files, int threads) {
  opened_ = true;
  files_ = files;
  threads_ = threads;
  if (files_.fai) {
    if (!create(faiFile_, faiName(outName))) return false;
    fai_ = std::make_unique<FaidxBuilder>(faiFile_.F, names_);
  }
  if (files_.gzi) {
    if (!create(gziFile_, gziName(outName))) return false;
    // The number of entries comes first; it is known at the end.
    unsigned char count[8] = {};
    if (std::fwrite(count, 1, sizeof count, gziFile_.F) != sizeof count) gziFile_.failed = true;
  }
  if (files_.dict && !create(dictFile_, dictName(outName))) return false;
  return true;
}

void OutputIndex::outputOpened(const std::string& outName) {
  if (files_.dict && dictFile_.F != nullptr)
    dict_ = std::make_unique<DictionaryBuilder>(dictFile_.F, realPath(outName), threads_ > 1,
                                                files_.fai ? nullptr : &names_);
}

void OutputIndex::block(uint64_t compressed, uint64_t plain) {
  if (!files_.gzi || gziFile_.failed) return;
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
  if (dict_ && !dict_->end()) dictFile_.failed = true;
  if (!settleNames()) return false;
  if (files_.gzi) {
    unsigned char count[8];
    writeLe64(count, entries_);
    if (std::fseek(gziFile_.F, 0, SEEK_SET) != 0 ||
        std::fwrite(count, 1, sizeof count, gziFile_.F) != sizeof count)
      gziFile_.failed = true;
  }
  File* const files[] = {files_.dict ? &dictFile_ : nullptr, files_.gzi ? &gziFile_ : nullptr,
                         files_.fai ? &faiFile_ : nullptr};
  for (File* f : files) {
    if (f != nullptr && !close(*f)) return fail(*f);
  }
  // The .fai last: a file renamed before a later one failed would describe
  // the output of a failed run, and is taken back.
  for (size_t i = 0; i < 3; ++i) {
    if (files[i] == nullptr || rename(*files[i])) continue;
    for (size_t j = 0; j < i; ++j) {
      if (files[j] != nullptr) unlink(files[j]->name.c_str());
    }
    return fail(*files[i]);
  }
  opened_ = false;
  return true;
}

namespace {

// What the files hold of a name that several records have: the .fai (of
// this run, or made later from this output) one record, the dictionary
// every one. The words depend on the records alone, not on the files the
// run writes.
std::string repeatedNameWarning(const RepeatedName& repeated) {
  if (repeated.name.empty()) {
    static const char* const kIndex[] = {"only the first of them",
                                         "only the first of them with residues",
                                         "none of them, as none has residues"};
    return std::string("Empty sequence name on several records: a .fai index lists ") +
           kIndex[static_cast<int>(repeated.index)] +
           ", and GATK and Picard refuse a dictionary with an empty SN:\n";
  }
  static const char* const kIndex[] = {"only its first record",
                                       "only its first record with residues",
                                       "none of its records, as none has residues"};
  return "Duplicate sequence name " + repeated.name + ": a .fai index lists " +
         kIndex[static_cast<int>(repeated.index)] +
         ", and GATK and Picard refuse a dictionary that repeats it\n";
}

}  // namespace

// Settled at the end by the names themselves, from the file that lists
// every record: the index's listing, else the dictionary. The listing
// becomes the index where it holds lines the index has not (records
// without residues, repeated names).
bool OutputIndex::settleNames() {
  emptyName_ = names_.emptyNames() == 1;
  bool withoutResidues = names_.withoutResidues() > 0;
  std::vector<uint64_t> candidates = names_.takeRepeatedHashes();
  bool repeats = !candidates.empty();
  repeated_ = std::make_unique<RepeatedNames>(std::move(candidates));
  if (files_.fai && (repeats || withoutResidues) && !faiFile_.failed &&
      !settleIndexFile(*repeated_)) {
    faiFile_.failed = true;
    return fail(faiFile_);
  }
  if (!files_.fai && files_.dict && repeats && !dictFile_.failed &&
      !readDictionaryFile(*repeated_)) {
    dictFile_.failed = true;
    return fail(dictFile_);
  }
  return true;
}

void OutputIndex::warnings(const std::function<void(const std::string& line)>& each) const {
  if (repeated_) {
    for (size_t i = 0; i < repeated_->count(); ++i) each(repeatedNameWarning(repeated_->at(i)));
  }
  if (files_.dict && emptyName_)
    each(
        "Empty sequence name: the dictionary lists its record with an empty SN:, which GATK and "
        "Picard refuse\n");
}

// The listing is read from the start through a second stream while the
// index is written over it from the start: the index keeps some of the
// listing's lines as they are, so no byte is written over before it was
// read.
bool OutputIndex::settleIndexFile(RepeatedNames& repeated) {
  if (std::fflush(faiFile_.F) != 0) return false;
  FILE* listing = std::fopen(faiFile_.temp.c_str(), "rb");
  if (listing == nullptr) return false;
  bool ok = std::fseek(faiFile_.F, 0, SEEK_SET) == 0 && settleIndex(listing, faiFile_.F, repeated);
  std::fclose(listing);
  if (!ok || std::fflush(faiFile_.F) != 0) return false;
  off_t size = ftello(faiFile_.F);
  return size >= 0 && ftruncate(fileno(faiFile_.F), size) == 0;
}

bool OutputIndex::readDictionaryFile(RepeatedNames& repeated) {
  if (std::fflush(dictFile_.F) != 0) return false;
  FILE* listing = std::fopen(dictFile_.temp.c_str(), "rb");
  if (listing == nullptr) return false;
  bool ok = readDictionaryNames(listing, repeated);
  std::fclose(listing);
  return ok;
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
  dict_.reset();
  for (File* f : {&faiFile_, &gziFile_, &dictFile_}) {
    if (f->F != nullptr) std::fclose(f->F);
    f->F = nullptr;
    removeTemp(*f);
  }
  opened_ = false;
}

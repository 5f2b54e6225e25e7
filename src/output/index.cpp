// SPDX-License-Identifier: MIT
// The index files of the output, under temporary names until the run ends.
#include "output/index.h"

#include <cstdlib>
#include <cstring>

#include "common/bgzf_format.h"
#include "common/platform.h"

namespace {

bool endsWith(const std::string& text, size_t end, const char* tail) {
  size_t k = std::strlen(tail);
  return end >= k && text.compare(end - k, k, tail) == 0;
}

// The length of `name` without the reference extension that the tools
// reading a dictionary know (.fasta, .fas, .fa, .fna, .txt, each also with
// .gz after it), or npos when it has none; only the last part of a path
// counts, and case matters, as it does to them.
size_t stemLength(const std::string& name) {
  static const char* const kReference[] = {".fasta", ".fas", ".fa", ".fna", ".txt"};
  size_t base = name.size() - platform::baseLength(name);
  for (const char* compressed : {".gz", ""}) {
    if (!endsWith(name, name.size(), compressed)) continue;
    size_t end = name.size() - std::strlen(compressed);
    for (const char* ext : kReference) {
      if (endsWith(name, end, ext) && end - std::strlen(ext) >= base) return end - std::strlen(ext);
    }
  }
  return std::string::npos;
}

// The value of the field `tag` ("UR:") of a tab-separated header line, and
// whether the line has it.
bool headerField(const std::string& line, const char* tag, std::string& value) {
  size_t k = std::strlen(tag);
  for (size_t at = 0; at < line.size();) {
    size_t tab = line.find('\t', at);
    size_t end = tab == std::string::npos ? line.size() : tab;
    if (end - at >= k && line.compare(at, k, tag) == 0) {
      value = line.substr(at + k, end - at - k);
      return true;
    }
    at = end + 1;
  }
  return false;
}

// Reads a line without its line end (LF, or CRLF).
void readLine(FILE* F, std::string& line) {
  line.clear();
  int c;
  while ((c = std::getc(F)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
  if (!line.empty() && line.back() == '\r') line.pop_back();
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%20" and the like made the bytes they stand for.
std::string percentDecoded(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    int hi = i + 2 < text.size() && text[i] == '%' ? hexValue(text[i + 1]) : -1;
    int lo = hi >= 0 ? hexValue(text[i + 2]) : -1;
    if (lo < 0) {
      out.push_back(text[i]);
      continue;
    }
    out.push_back(static_cast<char>(hi * 16 + lo));
    i += 2;
  }
  return out;
}

// Whether the URI of a UR: field names the file `path` (absolute, links
// resolved) or the file `out` is: "file://" and an absolute path as this
// tool and samtools write it, "file:" and one as Picard has, or a bare
// path; percent escapes are read as what they stand for.
bool urNames(const std::string& uri, const std::string& path, const platform::FileId& out) {
  std::string named = uri;
  if (named.compare(0, 7, "file://") == 0) {
    named.erase(0, 7);
  } else if (named.compare(0, 5, "file:") == 0) {
    named.erase(0, 5);
  }
  for (const std::string& candidate : {named, percentDecoded(named)}) {
    if (candidate.empty() || candidate[0] != '/') continue;
    if (candidate == path) return true;
    if (platform::sameFile(platform::fileId(candidate), out)) return true;
  }
  return false;
}

}  // namespace

std::string faiName(const std::string& outName) { return outName + ".fai"; }
std::string gziName(const std::string& outName) { return outName + ".gzi"; }
std::string dictName(const std::string& outName) {
  size_t stem = stemLength(outName);
  return (stem == std::string::npos ? outName : outName.substr(0, stem)) + ".dict";
}

namespace {

// The message for a file that cannot be taken out of the way: one the run
// writes is reported as that file.
std::string failedTo(const char* verb, const char* what, const std::string& name) {
  return std::string("Failed to ") + verb + " the " + what + " " + name + "\n";
}

}  // namespace

DictionaryOwner describedBy(const std::string& dictPath, const std::string& outName) {
  DictionaryOwner owner;
  platform::FileId id = platform::fileId(dictPath);
  if (!id.known) return owner;
  // Only a regular file is read: a FIFO there would never answer.
  FILE* F = id.regular ? platform::openFile(dictPath, "rb") : nullptr;
  if (F == nullptr) {
    owner.state = DictionaryOwner::kUnreadable;
    return owner;
  }
  std::string path = platform::uriPath(outName);
  platform::FileId out = platform::fileId(outName);
  owner.state = DictionaryOwner::kNoSequence;
  bool otherLines = false;
  std::string line, uri;
  while (owner.state == DictionaryOwner::kNoSequence ||
         owner.state == DictionaryOwner::kThisOutput) {
    int c = std::getc(F);
    if (c == EOF) break;
    // Header lines begin with '@': a file with any other line is no
    // dictionary, and is read no further.
    if (c != '@' && c != '\n' && c != '\r') {
      owner.state = DictionaryOwner::kUnnamed;
      break;
    }
    std::ungetc(c, F);
    readLine(F, line);
    if (line.compare(0, 4, "@SQ\t") != 0) {
      if (!line.empty() && line.compare(0, 4, "@HD\t") != 0) otherLines = true;
    } else if (!headerField(line, "UR:", uri)) {
      owner.state = DictionaryOwner::kUnnamed;
    } else if (!urNames(uri, path, out)) {
      owner.state = DictionaryOwner::kOther;
      owner.uri = uri;
    } else {
      owner.state = DictionaryOwner::kThisOutput;
    }
  }
  if (owner.state == DictionaryOwner::kNoSequence && otherLines)
    owner.state = DictionaryOwner::kUnnamed;
  if (std::ferror(F)) owner.state = DictionaryOwner::kUnreadable;
  std::fclose(F);
  return owner;
}

bool StaleFiles::settle(const std::string& outName, const IndexFiles& written,
                        const platform::FileId& keep) {
  struct Candidate {
    std::string name;
    const char* what;
    bool written;
  };
  const Candidate candidates[] = {{faiName(outName), "index", written.fai},
                                  {gziName(outName), "index", written.gzi},
                                  {dictName(outName), "dictionary", written.dict}};
  for (const Candidate& c : candidates) {
    // A folder is never removed (one in the way of a written file is
    // reported when that is created), nor the input.
    if (platform::entryAt(c.name) != platform::Entry::kOther) continue;
    if (platform::sameFile(platform::fileId(c.name), keep)) continue;
    if (&c == &candidates[2] && !dictionaryGoes(c.name, outName, c.written)) {
      if (!message_.empty()) return false;
      continue;
    }
    if (!platform::mayRemove(c.name)) {
      message_ = failedTo(c.written ? "write" : "remove", c.what, c.name);
      return false;
    }
    stale_.push_back({c.name, c.what});
  }
  return true;
}

// A dictionary is this output's when its UR: names the output: only such a
// one goes, since other references share its name (ref.fa and ref.fa.gz
// both have ref.dict). Writing a dictionary, one of another file is
// refused, and one that lists no sequence is replaced.
bool StaleFiles::dictionaryGoes(const std::string& name, const std::string& outName, bool written) {
  DictionaryOwner owner = describedBy(name, outName);
  if (owner.state == DictionaryOwner::kThisOutput) return true;
  if (!written) return false;
  std::string refusal = "Refusing to overwrite the dictionary " + name;
  switch (owner.state) {
    case DictionaryOwner::kNoSequence: return true;
    case DictionaryOwner::kOther:
      message_ = refusal + ", which describes " + owner.uri + "\n";
      break;
    case DictionaryOwner::kUnnamed:
      message_ = refusal + ", which does not name the file it describes\n";
      break;
    default: message_ = refusal + ", which cannot be read\n"; break;
  }
  return false;
}

bool StaleFiles::remove() {
  for (const Stale& s : stale_) {
    if (!platform::removeFile(s.name)) {
      message_ = failedTo("remove", s.what, s.name);
      return false;
    }
  }
  stale_.clear();
  return true;
}

// An index that was not committed must not stay behind.
OutputIndex::~OutputIndex() { discard(); }

bool OutputIndex::create(File& f, const std::string& name) {
  f.name = name;
  return f.file.create(name) || fail(f);
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
    fai_ = std::make_unique<FaidxBuilder>(faiFile_.file.stream(), names_);
  }
  if (files_.gzi) {
    if (!create(gziFile_, gziName(outName))) return false;
    // The number of entries comes first; it is known at the end.
    unsigned char count[8] = {};
    if (std::fwrite(count, 1, sizeof count, gziFile_.file.stream()) != sizeof count)
      gziFile_.failed = true;
  }
  if (files_.dict && !create(dictFile_, dictName(outName))) return false;
  return true;
}

void OutputIndex::outputOpened(const std::string& outName) {
  if (files_.dict && dictFile_.file.stream() != nullptr)
    dict_ = std::make_unique<DictionaryBuilder>(dictFile_.file.stream(), platform::uriPath(outName),
                                                threads_ > 1, files_.fai ? nullptr : &names_);
}

void OutputIndex::block(uint64_t compressed, uint64_t plain) {
  if (!files_.gzi || gziFile_.failed) return;
  unsigned char entry[16];
  writeLe64(entry, compressed);
  writeLe64(entry + 8, plain);
  if (std::fwrite(entry, 1, sizeof entry, gziFile_.file.stream()) != sizeof entry)
    gziFile_.failed = true;
  ++entries_;
}

bool OutputIndex::close(File& f) {
  if (!f.file.close()) f.failed = true;
  return !f.failed;
}

bool OutputIndex::commit() {
  if (fai_ && !fai_->end()) faiFile_.failed = true;
  if (dict_ && !dict_->end()) dictFile_.failed = true;
  if (!settleNames()) return false;
  if (files_.gzi) {
    unsigned char count[8];
    writeLe64(count, entries_);
    FILE* F = gziFile_.file.stream();
    if (std::fseek(F, 0, SEEK_SET) != 0 || std::fwrite(count, 1, sizeof count, F) != sizeof count)
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
    if (files[i] == nullptr || files[i]->file.commit()) continue;
    for (size_t j = 0; j < i; ++j) {
      if (files[j] != nullptr) platform::removeFile(files[j]->name);
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
  FILE* F = faiFile_.file.stream();
  if (std::fflush(F) != 0) return false;
  FILE* listing = platform::openFile(faiFile_.file.tempName(), "rb");
  if (listing == nullptr) return false;
  bool ok = std::fseek(F, 0, SEEK_SET) == 0 && settleIndex(listing, F, repeated);
  std::fclose(listing);
  return ok && platform::truncateHere(F);
}

bool OutputIndex::readDictionaryFile(RepeatedNames& repeated) {
  if (std::fflush(dictFile_.file.stream()) != 0) return false;
  FILE* listing = platform::openFile(dictFile_.file.tempName(), "rb");
  if (listing == nullptr) return false;
  bool ok = readDictionaryNames(listing, repeated);
  std::fclose(listing);
  return ok;
}

void OutputIndex::discard() {
  if (!opened_) return;
  dict_.reset();
  for (File* f : {&faiFile_, &gziFile_, &dictFile_}) f->file.discard();
  opened_ = false;
}

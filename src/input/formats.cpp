// SPDX-License-Identifier: MIT
// The table of compressed input formats.
#include "input/formats.h"

#include <cstring>
#include <iterator>

namespace {

#ifdef QUENBREL_HAVE_ISAL
constexpr DecoderOpener kGzip = openGzipIsal;
#else
constexpr DecoderOpener kGzip = openGzipZlib;
#endif
#ifdef QUENBREL_HAVE_ZSTD
constexpr DecoderOpener kZstd = openZstd;
#else
constexpr DecoderOpener kZstd = nullptr;
#endif
#ifdef QUENBREL_HAVE_XZ
constexpr DecoderOpener kXz = openXz;
#else
constexpr DecoderOpener kXz = nullptr;
#endif
#ifdef QUENBREL_HAVE_BZIP2
constexpr DecoderOpener kBzip2 = openBzip2;
#else
constexpr DecoderOpener kBzip2 = nullptr;
#endif

constexpr char kNoZstd[] =
    "Input is zstd-compressed, but quenbrel was built without zstd support (libzstd).\n";

// None of these can begin IG or FASTA text, so recognising them takes
// nothing from plain input.
const InputFormat kFormats[] = {
    {"gzip", 2, {0x1f, 0x8b}, {0x1f, 0x8b}, false, kGzip, nullptr},
    {"zstd", 4, {0x28, 0xb5, 0x2f, 0xfd}, {0x28, 0xb5, 0x2f, 0xfd}, false, kZstd, kNoZstd},
    // A zstd stream may open with a skippable frame.
    {"zstd", 4, {0x50, 0x2a, 0x4d, 0x18}, {0x5f, 0x2a, 0x4d, 0x18}, false, kZstd, kNoZstd},
    {"xz",
     6,
     {0xfd, '7', 'z', 'X', 'Z', 0},
     {0xfd, '7', 'z', 'X', 'Z', 0},
     true,
     kXz,
     "Input is xz-compressed, but quenbrel was built without xz support (liblzma).\n"},
    {"bzip2",
     4,
     {'B', 'Z', 'h', '1'},
     {'B', 'Z', 'h', '9'},
     true,
     kBzip2,
     "Input is bzip2-compressed, but quenbrel was built without bzip2 support (libbz2).\n"},
};

}  // namespace

InputFormatList inputFormats() { return {std::begin(kFormats), std::end(kFormats)}; }

const InputFormat* inputFormat(const char* name) {
  for (const InputFormat& f : kFormats) {
    if (std::strcmp(f.name, name) == 0) return &f;
  }
  return nullptr;
}

bool agreesWithMagic(const InputFormat& format, const unsigned char* p, size_t n) {
  for (size_t k = 0; k < n && k < format.magicSize; ++k) {
    if (p[k] < format.lo[k] || p[k] > format.hi[k]) return false;
  }
  return true;
}

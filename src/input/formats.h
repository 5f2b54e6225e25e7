// SPDX-License-Identifier: MIT
// The compressed input formats, listed once: how each is recognised by its
// first bytes, its decoder, and what a build without it says. The input
// layer, the tests and the fuzzer all read this list.
#ifndef QUENBREL_INPUT_FORMATS_H
#define QUENBREL_INPUT_FORMATS_H

#include <cstddef>

#include "input/decoders.h"

constexpr size_t kMagicMax = 6;

struct InputFormat {
  const char* name;  // "gzip", "zstd", "xz", "bzip2"
  // The magic: byte k lies in lo[k]..hi[k], for k < magicSize.
  size_t magicSize;
  unsigned char lo[kMagicMax];
  unsigned char hi[kMagicMax];
  // Decodes at some tens of MB/s: read ahead on a thread, it is handed over
  // in smaller blocks, whose handover costs nothing beside its decoding,
  // since its state already takes most of the memory a run may use.
  bool slow;
  DecoderOpener open;   // null when this build left the format out
  const char* missing;  // then the message
};

struct InputFormatList {
  const InputFormat* first;
  const InputFormat* last;
  const InputFormat* begin() const { return first; }
  const InputFormat* end() const { return last; }
};

// Every format, built in or not. A format may have more than one row (a
// zstd stream may open with a skippable frame); its first row holds the
// magic it is written with.
InputFormatList inputFormats();

// The first row of the format called `name`, or null.
const InputFormat* inputFormat(const char* name);

// Whether the first min(n, magic size) bytes of `p` agree with `format`.
bool agreesWithMagic(const InputFormat& format, const unsigned char* p, size_t n);

#endif  // QUENBREL_INPUT_FORMATS_H

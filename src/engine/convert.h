// SPDX-License-Identifier: MIT
// The IG/FASTA to FASTA conversion engine.
#ifndef QUENBREL_CONVERT_H
#define QUENBREL_CONVERT_H

#include <cstdio>

class Sink;

// What the caller may add to the two streams: a sink the output goes to
// instead of FFASTA (which is then left alone; the sink is finished on every
// path), and the threads that may inflate BGZF input.
struct ConvertIo {
  Sink* sink = nullptr;
  int threads = 1;
};

// Run statuses of the engine; the tool exits with them.
enum ConvertStatus {
  kConvertOk = 0,
  kConvertNotFormat = 3,  // first content line begins with neither ";" nor ">"
  kConvertNoContent = 4,  // no line longer than one character
  kConvertReadFailed = 10,
  kConvertWriteFailed = 20,
};

// Converts the IG or FASTA records read from FIG into FASTA on FFASTA, with
// `lineLen` residues per output line (at least 5). `noN` drops n and N,
// `toUpper` upper-cases residues, `oneLine` never breaks a sequence body.
//
// Writes its own diagnostics to stderr and returns the run's status. On
// every path it closes FIG unless it is stdin and FFASTA unless it is stdout
// (stdout is flushed instead), so the caller must not use them afterwards.
// `io`, when given, adds a sink and threads (see ConvertIo).
int convert(FILE* FIG, FILE* FFASTA, int lineLen, bool noN, bool toUpper, bool oneLine,
            const ConvertIo* io = nullptr);

// The residue packing kernels. By default the engine runs the widest this
// processor has; tests, fuzzers and benchmarks pick each in turn, since all
// must give the same bytes.
enum ConvertKernel {
  kKernelAuto,
  kKernelPortable,  // plain C++, 8 bytes at a time; every processor
  kKernelSsse3,     // x86-64: 16-byte blocks, packing by byte shuffle
  kKernelAvx2,      // x86-64: 32-byte blocks
  kKernelAvx512,    // x86-64: 64-byte blocks, packing by byte compression (VBMI2)
  kKernelNeon,      // 64-bit ARM: 16-byte blocks, packing by table lookup
};

// Whether this processor (and system) can run `kernel`.
bool convertKernelSupported(ConvertKernel kernel);

// A short name of `kernel` ("portable", "ssse3", ...), and the kernel of
// that name (false when there is none).
const char* convertKernelName(ConvertKernel kernel);
bool convertKernelByName(const char* name, ConvertKernel* kernel);

// convert() with the kernel chosen by the caller; one the processor lacks
// must not be asked for.
int convertWith(FILE* FIG, FILE* FFASTA, int lineLen, bool noN, bool toUpper, bool oneLine,
                ConvertKernel kernel, const ConvertIo* io = nullptr);

#endif  // QUENBREL_CONVERT_H

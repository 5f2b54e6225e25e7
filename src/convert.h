// The IG/FASTA to FASTA conversion engine.
#ifndef QUENBREL_CONVERT_H
#define QUENBREL_CONVERT_H

#include <cstdio>

// Run statuses of the engine; the tool exits with them.
enum ConvertStatus {
  kConvertOk = 0,
  kConvertNotFormat = 3,   // first content line begins with neither ";" nor ">"
  kConvertNoContent = 4,   // no line longer than one character
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
int convert(FILE* FIG, FILE* FFASTA, int lineLen, bool noN, bool toUpper, bool oneLine);

// The packing loops the engine can run. By default it picks the widest the
// processor has; tests pick each in turn, since all must give the same bytes.
enum ConvertSimd {
  kConvertSimdAuto,
  kConvertSimdBasic,    // 16-byte blocks, byte-by-byte packing
  kConvertSimdShuffle,  // 16-byte blocks, packing by byte shuffle
  kConvertSimdWide,     // 32-byte blocks
  kConvertSimdCompress, // 64-byte blocks, packing by byte compression (AVX-512 VBMI2)
};

// Whether this processor (and system) can run the packing loop `simd`.
bool convertSimdSupported(ConvertSimd simd);

// convert() with the packing loop chosen by the caller; one the processor
// lacks must not be asked for.
int convertWith(FILE* FIG, FILE* FFASTA, int lineLen, bool noN, bool toUpper, bool oneLine,
                ConvertSimd simd);

#endif  // QUENBREL_CONVERT_H

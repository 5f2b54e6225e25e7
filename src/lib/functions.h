// SPDX-License-Identifier: MIT
// quenbrel utility library: helpers for command-line sequence tools.
//
// Plain free functions, many offered as twins for stdio streams (FILE*) and
// for iostreams. Failures are reported by a message on standard error and a
// result the caller tests; nothing here throws. Messages carry no prefix.
//
// On Windows (a MinGW-w64 build), where POSIX's meaning does not carry
// over, the helpers do this:
// - file names are UTF-8, whatever the code page, and files are opened in
//   binary mode: the bytes read and written are POSIX's (no CR added
//   before a line feed, none taken away, no end at a Ctrl-Z byte);
//   standard input and output are the caller's to put in binary mode;
// - "the same file" (fcopy) is the same volume and file index: through a
//   hard link, another spelling or case of the name, a link;
// - findInPath splits its list at ';', as Windows' PATH is written;
// - error() ends the process with exit(-1), which Windows reports as
//   status 4294967295 (-1), not 255;
// - uirand() draws from a rand() whose RAND_MAX is 32767.
#ifndef QUENBREL_FUNCTIONS_H
#define QUENBREL_FUNCTIONS_H

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

/// Does nothing; marks the library for tools that link it.
void libutil_main();

// ---------------------------------------------------------------------------
// Command-line arguments
// ---------------------------------------------------------------------------

/// Option map: option or flag name (as the caller passed it to a collector)
/// to its value text; a flag's value is empty. A key is present exactly when
/// the option or flag was given.
typedef std::map<std::string, std::string> ARGMAP;

/// Collects valued options. `argc` is the number of names that follow (a null
/// name ends the list early). Every element that begins with a name is
/// consumed: "-n 60" takes the next element as value, "-n60" the rest of the
/// element. Consumed elements are removed from `argv` in place; the last
/// occurrence wins. Returns the number of entries in `argmap`, or -1 (after
/// "Bad argument to %s option\n" on stderr) when a name is the last element.
int getoptions(char** argv, ARGMAP& argmap, int argc, ...);

/// Collects flags: elements equal to one of the names are removed from `argv`
/// and stored with an empty value. Returns the number of entries in `argmap`.
int getflags(char** argv, ARGMAP& argmap, int argc, ...);

/// Binds the input from argv[1]: a word beginning with "-" means stdin,
/// anything else is opened for reading. Returns argv + 1, or null when there
/// is no operand or the open fails ("Bad file name %s\n" on stderr; F null).
/// A file opened here belongs to the caller, who closes it.
char** assigninput(FILE*& F, char** argv);

/// iostream twin: std::cin for "-...", else a new std::ifstream owned by the
/// caller (also on failure, when it is left in the failed state after
/// "Failed to open NAME for reading\n" on std::cerr). Null on failure.
char** assigninput(std::istream*& fin, char** argv);

/// Opens `fname` (non-null) for writing. 1 on success; 0 on failure, with
/// "Failed to open %s for writing\n" on stderr and F null.
int assignoutput(FILE*& F, char* fname);

/// Binds the output from the element after `argv`: none means stdout and
/// returns `argv` itself; a word beginning with "-" means stdout; anything
/// else is opened for writing. Returns the operand's position, or null on
/// failure.
char** assignoutput(FILE*& F, char** argv);

/// iostream twin by name: null name gives 0 silently; "-..." binds std::cout;
/// otherwise a new std::ofstream owned by the caller (kept, failed, on error).
int assignoutput(std::ostream*& fout, char* fname);

/// iostream twin by position, as the FILE* one.
char** assignoutput(std::ostream*& fout, char** argv);

// ---------------------------------------------------------------------------
// File helpers
// ---------------------------------------------------------------------------

/// Opens `fname` for reading; null (and "Failed to open %s for reading\n")
/// on failure, null silently for a null name. The caller closes the stream.
FILE* openifilename(const char* fname);

/// Opens `fname` for writing (created or emptied); null on failure, with
/// "Failed to open %s for writing\n". The caller closes the stream.
FILE* openofilename(const char* fname);

/// iostream twin of openifilename; the caller deletes the stream.
std::ifstream* openifs(const char* fname);

/// iostream twin of openofilename; the caller deletes the stream.
std::ofstream* openofs(const char* fname);

/// True when `pcFName` can be opened for reading. Prints nothing.
bool exist(char* pcFName);

/// Searches the ":"-separated (Windows: ";"-separated) directory list `pcPathVar` (null or empty:
/// no directories) for the first "element/pcFName" that opens for reading; an empty element gives
/// "/pcFName", a trailing ":" adds nothing, and a candidate longer than 255 characters is skipped.
/// Returns a pointer to a static buffer holding the path found, or null. Prints nothing. Not
/// reentrant: every call overwrites the buffer with its candidates.
char* findInPath(char* pcPathVar, char* pcFName);

/// Copies `fsource` to `fdest` byte for byte. 0 on success; -1 on failure,
/// with "Cannot open file %s for reading/writing\n", "Cannot read file %s\n",
/// "Cannot write file %s\n" or "Cannot copy file %s onto itself\n" (the same
/// file through any name or link; nothing is touched) on stderr. A source
/// that cannot be read at all leaves the destination untouched.
int fcopy(char* fsource, char* fdest);

/// Copies `fsource` to `fdest` (as fcopy), then removes `fsource`. 0 on
/// success, -1 on failure; the source is only removed after a complete copy
/// ("Could not delete file %s\n" when it cannot be, and both files stay).
int fmove(char* fsource, char* fdest);

/// Writes `message` to stderr as it stands (it is not a format; only "%%"
/// comes out as "%"), nothing added, and ends the process through exit(-1):
/// stdio streams are flushed and the parent sees status 255.
[[noreturn]] void error(const char* message);

// ---------------------------------------------------------------------------
// Line readers
// ---------------------------------------------------------------------------

/// Reads up to size-1 characters of a line into `buff`, newline removed;
/// a longer line arrives in pieces over later calls, and a line of exactly
/// size-1 characters is followed by an empty text. 0 when text was
/// delivered, 1 at end of input, on a read error, or for a size below 2.
int readline(char* buff, unsigned long size, FILE* is);

/// iostream twin: 1 when the stream is failed after the read (end of input,
/// or a line of size or more characters, after which the stream stays failed
/// until the caller clears it), else 0.
int readline(char* buff, unsigned long size, std::istream* is);

/// Reads one whole line of any length into `s`, newline removed (NUL bytes
/// kept). 1 for a line ended by a newline; otherwise the length of `s`: a
/// last line without a newline, or 0 at end of input.
int getline(FILE* is, std::string& s);

// ---------------------------------------------------------------------------
// Text helpers
// ---------------------------------------------------------------------------

/// Drops a leading run of `cSqz` and shrinks every other run to one.
/// Returns the position of the new terminating null.
char* squeeze(char* line, char cSqz);

/// Drops every non-graphic character. Returns the new terminating null.
char* squeeze(char* line);

/// Whether `pattern` is a prefix of `line` (case-sensitive).
bool starts_with(const char* line, const char* pattern);

/// The character the backslash escape at the start of `line` stands for.
char convert_esc(char* line);

/// Replaces every backslash escape in `line` by its character; returns `line`.
char* convertline(char* line);

/// Complementary nucleotide of A, C, G, T (either case); other characters
/// are returned unchanged.
char transpose(char c);

/// Upper-cases `s` in place and returns it; a null `s` is returned as is.
char* toUpper(char* s);

/// Upper-cases every character of `s` in place and returns it.
std::string& toUpper(std::string& s);

/// True when `line` holds no graphic character.
bool isEmpty(char* line);

/// Position just after column num-1 of `line` (columns are runs of graphic
/// characters, numbered from 1): `line` itself for num <= 1, otherwise column
/// num is the first word at or after it. Never passes a line end; never null.
const char* getColumn(const char* line, int num);

/// A random integer from 0 to `maxval` (at most INT_MAX): one draw of rand()
/// scaled and rounded half up, so 0 and maxval come half as often as the
/// values between. Never seeds the generator. rand() gives 0 to RAND_MAX:
/// with Windows' C runtime that is 32767, so at most 32768 values come out
/// there.
int uirand(unsigned int maxval);

// ---------------------------------------------------------------------------
// Hit record formats
// ---------------------------------------------------------------------------
// A hit pairs a target range with a rep range. Positions are used as given;
// names travel as single tokens (white space in a name does not survive a
// write and a read). Widths are minimum widths: nothing is ever cut.
//
// The stream twins format through the stream and leave on it every setting
// they make except the width (adjustment flags, precision, notation); a later
// call on the same stream inherits them. A null name puts a stream into the
// bad state; a FILE* writer writes it as an empty name.

/// Writes a co record: score, rep range, target range, with the layout
/// "%-5d %-12s %7ld > %-7ld %12s %7ld > %-7ld\n". The stream twin writes the
/// same values without the " > " tokens, adding the left flag to the score
/// and both range ends; on a fresh stream every field is left-justified.
void print_co(FILE* FOUT, const char* pcTgtName, long iTgtFrom, long iTgtTo, const char* pcRepName,
              long iRepFrom, long iRepTo, int iScore);
void print_co(std::ostream& os, const char* pcTgtName, long iTgtFrom, long iTgtTo,
              const char* pcRepName, long iRepFrom, long iRepTo, int iScore);

/// Writes a short ft record: target range, rep range, direction ("d" when
/// `isDirect`, else "c"), then dSim, dTranz and dScore in that order. dTranz
/// below 0.1 is written in scientific notation, otherwise (NaN included) in
/// fixed notation.
void print_ft(FILE* FOUT, const char* pcTgtName, long iTgtFrom, long iTgtTo, const char* pcRepName,
              long iRepFrom, long iRepTo, double dScore, double dSim, double dTranz, bool isDirect);
/// Writes a long ft record: the short one followed by two tab-separated
/// percentages.
void print_ft(FILE* FOUT, const char* pcTgtName, long iTgtFrom, long iTgtTo, const char* pcRepName,
              long iRepFrom, long iRepTo, double dScore, double dSim, double dTranz, bool isDirect,
              double percent1, double percent2);
/// Stream twin of the short ft record. Leaves the left flag set and the
/// precision at 0.
void print_ft(std::ostream& os, const char* pcTgtName, long iTgtFrom, long iTgtTo,
              const char* pcRepName, long iRepFrom, long iRepTo, double dScore, double dSim,
              double dTranz, bool isDirect);
/// Stream twin of the long ft record; the percentages are blank-separated
/// with 2 decimals. Leaves the stream in fixed notation, right-adjusted, with
/// precision 2.
void print_ft(std::ostream& os, const char* pcTgtName, long iTgtFrom, long iTgtTo,
              const char* pcRepName, long iRepFrom, long iRepTo, double dScore, double dSim,
              double dTranz, bool isDirect, double percent1, double percent2);

/// Reads a co record in the FILE* layout. Returns the scan count minus one:
/// 8 for a whole record, -2 for a blank line. The two separator tokens may
/// hold at most 9 characters; a longer one ends the scan before it. Outputs
/// whose fields were not reached keep their values. The name buffers must
/// hold the longest token of `pcLine`.
int read_co(char* pcLine, char* pcTgtName, long& iTgtFrom, long& iTgtTo, char* pcRepName,
            long& iRepFrom, long& iRepTo, int& iScore);

/// Reads an ft record of either form and from either twin; anything after
/// the score is ignored. Positions may carry fractions and are truncated
/// toward zero. `isDirect` is true exactly for "d". Returns the scan count
/// minus one (9 for a whole record); unreached outputs keep their values.
int read_ft(char* pcLine, char* pcTgtName, long& iTgtFrom, long& iTgtTo, char* pcRepName,
            long& iRepFrom, long& iRepTo, double& dScore, double& dSim, double& dTranz,
            bool& isDirect);

/// As above with the score truncated to an int, and the direction appended
/// to `pcRepName` as "@1" (d) or "@2" (c); `pcRepName` needs two characters
/// more. Returns the scan count minus one, or 0 for a direction character
/// other than d or c. A scan that stopped before the direction appends
/// nothing and returns its count minus one.
int read_ft(char* pcLine, char* pcTgtName, long& iTgtFrom, long& iTgtTo, char* pcRepName,
            long& iRepFrom, long& iRepTo, int& iScore, double& dSim, double& dTranz);

// ---------------------------------------------------------------------------
// Report helpers
// ---------------------------------------------------------------------------

/// Writes an IG-style entry header: a line holding only ";" and then
/// `pcName` unchanged on a line of its own.
void printHeader(FILE* FOUT, const char* pcName);

/// Prints two aligned rows after a line end, in blocks of 70 columns: a
/// piece of `pcS1`, a similarity line ("|" where both rows hold the same
/// ASCII letter, "-" elsewhere), the same columns of `pcS2`, an empty line.
/// Stops when either row runs out; columns past the end of `pcS2` show "-".
/// Neither string is changed.
void print_aln(FILE* FOUT, char* pcS1, char* pcS2);

/// Reads `F` up to the next entry header (a ">" line, or ";" lines followed
/// by a name line) and returns the first word of its name, or null at end of
/// input. Lines are judged whole; a line keeps its first 1023 characters. A
/// name line without a word returns the previous name. Not reentrant: points
/// into a static buffer that the next call overwrites.
char* getNextLocus(FILE* F);

#endif  // QUENBREL_FUNCTIONS_H

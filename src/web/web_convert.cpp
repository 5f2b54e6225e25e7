// SPDX-License-Identifier: MIT
// The page's entry: one call that converts a file of the worker's file
// system into FASTA handed to the page as it is made, through the same run
// as the command line (engine/run.h), with its statuses and messages.
//
// The input comes from the page through a callback (quenbrelWebRead),
// which waits while the browser reads the user's file into a buffer it
// reuses: the engine reads it block by block, as it reads a file on disk.
// The output goes to the page through a callback (quenbrelWebWrite), so it
// never gathers in this module's memory; the index files are written beside
// the output's name in the module's memory file system, from where the
// worker takes them once the run has succeeded.
#include <emscripten/emscripten.h>

#include <memory>
#include <string>

#include "common/bytes.h"
#include "engine/convert.h"
#include "engine/run.h"
#include "web/zlib_port.h"

namespace {

// The settings of a run, as bits of quenbrelWebConvert's `flags`.
enum WebFlag {
  kOneLine = 1,    // -ol
  kUpperCase = 2,  // -uc
  kDropN = 4,      // -unseq
  kBgzf = 8,       // --compress=gzip
  kIndex = 16,     // --index
};

// What the last run wrote where the command line writes to standard
// error; the page reads it after the run.
std::string lastMessage;
// Whether the last run began its output: one that never began (input not
// in the format) leaves an earlier file of the name as it was.
bool outputBegun = false;

// The page's file, read as the engine asks: the page copies straight into
// the engine's 128 KiB blocks.
std::unique_ptr<ByteSource> pageInput() {
  return std::make_unique<CallbackSource>([](unsigned char* p, size_t n) -> long {
    uint32_t cap = n > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<uint32_t>(n);
    return quenbrelWebRead(p, cap);
  });
}

// Every byte written goes to the page, block by block.
std::unique_ptr<Sink> pageOutput() {
  return std::make_unique<CallbackSink>([](const unsigned char* p, size_t n) {
    return quenbrelWebWrite(p, static_cast<uint32_t>(n)) != 0;
  });
}

int run(const char* outPath, int lineLen, int flags) {
  RunRequest request;
  request.options.lineLen = lineLen;
  request.options.oneLine = (flags & kOneLine) != 0;
  request.options.upperCase = (flags & kUpperCase) != 0;
  request.options.dropN = (flags & kDropN) != 0;
  request.output.compress = (flags & kBgzf) != 0 ? "gzip" : "none";
  request.output.index = (flags & kIndex) != 0;
  request.output.threads = 1;
  std::unique_ptr<ByteSource> input = pageInput();
  request.input = input.get();
  request.outName = outPath;
  request.out = pageOutput();
  std::string warnings;
  request.warn = [&warnings](const std::string& line) { warnings += line; };
  RunResult result = runConversion(std::move(request));
  outputBegun = result.outputBegun;
  lastMessage = warnings + result.message;
  return result.status;
}

}  // namespace

extern "C" {

// The residues per line of the page's field `text`, read as `-n text`:
// empty is no -n at all, 70. -1 when the command line would refuse it;
// the message is then quenbrelWebMessage().
EMSCRIPTEN_KEEPALIVE int quenbrelWebLineLen(const char* text) {
  lastMessage.clear();
  int lineLen = 70;
  if (text[0] != '\0' && !lineLenFromText(text, lineLen)) {
    lastMessage = std::string("Bad argument '") + text + "' to -n option\n";
    return -1;
  }
  return lineLen;
}

// Converts the page's input (quenbrelWebRead) into FASTA handed to
// quenbrelWebWrite, as `quenbrel IN outPath` does with the settings of
// `flags` (WebFlag) and `lineLen` residues per line (quenbrelWebLineLen's);
// with kIndex the index files are left beside `outPath`. Returns the command
// line's exit status; the message is then quenbrelWebMessage(), and
// quenbrelWebOutputBegun() tells whether the output began.
EMSCRIPTEN_KEEPALIVE int quenbrelWebConvert(const char* outPath, int lineLen, int flags) {
  lastMessage.clear();
  outputBegun = false;
  return run(outPath, lineLen, flags);
}

EMSCRIPTEN_KEEPALIVE int quenbrelWebOutputBegun() { return outputBegun ? 1 : 0; }

// What the last conversion wrote where the command line writes to
// standard error (empty when nothing); valid until the next conversion.
EMSCRIPTEN_KEEPALIVE const char* quenbrelWebMessage() { return lastMessage.c_str(); }
}

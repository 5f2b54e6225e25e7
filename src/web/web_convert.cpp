// SPDX-License-Identifier: MIT
// The page's entry: one call that converts a file of the worker's file
// system into FASTA handed to the page as it is made, over the same engine
// and output chain as the command line, with the command line's statuses
// and messages.
//
// The input comes from the page through a stream of its own
// (quenbrelWebRead), which waits while the browser reads the user's file
// into a buffer it reuses: the engine reads it block by block, as it reads
// a file on disk. The output goes to the page through a stream of its own
// (quenbrelWebWrite), so it never gathers in this module's memory; the
// index files are written
// beside the output's name in the module's memory file system, from where
// the worker takes them once the run has succeeded.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <string>

#include "engine/convert.h"
#include "output/index.h"
#include "output/plan.h"
#include "output/sink.h"
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

ssize_t writeToPage(void*, const char* p, size_t n) {
  return quenbrelWebWrite(reinterpret_cast<const unsigned char*>(p), static_cast<uint32_t>(n)) != 0
             ? static_cast<ssize_t>(n)
             : -1;
}

ssize_t readFromPage(void*, char* p, size_t n) {
  uint32_t cap = n > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<uint32_t>(n);
  return quenbrelWebRead(reinterpret_cast<unsigned char*>(p), cap);
}

int closePageStream(void*) { return 0; }

// A stream of the page's, unbuffered: the engine reads and writes 128 KiB
// blocks, which the page copies straight into or out of; buffered again,
// they would only be copied once more.
FILE* openPageStream(const char* mode, cookie_io_functions_t io) {
  io.close = closePageStream;
  FILE* F = fopencookie(nullptr, mode, io);
  if (F != nullptr) std::setvbuf(F, nullptr, _IONBF, 0);
  return F;
}

// The input stream: the page's file, read as the engine asks.
FILE* openPageInput() {
  cookie_io_functions_t io{};
  io.read = readFromPage;
  return openPageStream("r", io);
}

// The output stream: every byte written to it goes to the page.
FILE* openPageOutput() {
  cookie_io_functions_t io{};
  io.write = writeToPage;
  return openPageStream("w", io);
}

int run(const char* outPath, int lineLen, int flags) {
  ConvertOptions options;
  options.lineLen = lineLen;
  options.oneLine = (flags & kOneLine) != 0;
  options.upperCase = (flags & kUpperCase) != 0;
  options.dropN = (flags & kDropN) != 0;

  FILE* input = openPageInput();
  if (input == nullptr) {
    lastMessage = "Failed to asign input.\n";
    return kConvertReadFailed;
  }
  OutputRequest request;
  request.compress = (flags & kBgzf) != 0 ? "gzip" : "none";
  request.index = (flags & kIndex) != 0;
  request.threads = 1;
  Planned planned = planOutput(request, outPath);
  if (!planned.ok()) {
    std::fclose(input);
    lastMessage = planned.problem;
    return kConvertReadFailed;
  }
  const OutputPlan& plan = planned.plan;
  OutputIndex index;
  IndexFiles files;
  files.fai = plan.index;
  files.gzi = plan.index && plan.format == OutputFormat::kBgzf;
  if (plan.described() && !index.open(outPath, files, plan.threads)) {
    std::fclose(input);
    lastMessage = index.message();
    return kConvertWriteFailed;
  }
  FILE* output = openPageOutput();
  if (output == nullptr) {
    std::fclose(input);
    lastMessage = "Failed to asign output.\n";
    return kConvertWriteFailed;
  }
  if (plan.described()) index.outputOpened(outPath);
  options.threads = plan.threads;
  std::unique_ptr<Sink> sink = makeOutputChain(output, plan, plan.described() ? &index : nullptr);
  sink = std::make_unique<BeginningSink>(std::move(sink), [] { return outputBegun = true; });
  ConvertResult result = convert(input, *sink, options);
  std::string warnings;
  if (result.status == kConvertOk && plan.described()) {
    if (!index.commit()) {
      result = {kConvertWriteFailed, index.message()};
    } else {
      index.warnings([&](const std::string& line) { warnings += line; });
    }
  }
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

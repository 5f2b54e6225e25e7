// Fuzzes the conversion engine on arbitrary input bytes and settings.
//
// Layout of a fuzz input: byte 0 holds the flags (bit 0 -unseq, bit 1 -uc,
// bit 2 -ol, bit 3 deliver the input in small pieces, bits 4 and 5 the
// packing loop, as far as the processor has it), byte 1 the line
// length (5 to 254, or one of a few huge lengths), byte 2 the seed of the
// piece sizes; the rest is the input text.
//
// The engine reads in large blocks, so a plain memory stream hands it the
// whole input at once. To reach the code that carries a line across block
// boundaries, the input can instead come through a sequenced-packet socket:
// every read of it returns one packet, so the packets are the blocks.
//
// The oracle is a straightforward line-by-line model of the conversion
// (of the text made LF text first: byte-order mark dropped, classic Mac line
// ends made LF), written for clarity rather than speed; the engine must
// agree with it on the status, the output bytes and the messages. Input that begins with the
// gzip magic is first decompressed for the model, member after member; when
// the data is damaged the engine must report a read error (or the wrong
// format, if it saw that first), having written no more than the model
// writes for the part that could be decompressed.
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "convert.h"

namespace {

struct Settings {
  int lineLen;
  bool noN;
  bool toUpper;
  bool oneLine;
};

std::vector<std::string_view> splitLines(std::string_view in) {
  std::vector<std::string_view> lines;
  size_t at = 0;
  while (at < in.size()) {
    size_t nl = in.find('\n', at);
    size_t end = (nl == std::string_view::npos) ? in.size() : nl + 1;
    lines.push_back(in.substr(at, end - at));
    at = end;
  }
  return lines;
}

// The annotation a comment line carries: the text from the first "FRAGMENT"
// to the line end, when the line also holds "->" and that text scans as a
// word, an integer, the arrow and an integer.
bool fragmentOf(std::string_view line, std::string& frag) {
  size_t at = line.find("FRAGMENT");
  if (at == std::string_view::npos || line.find("->") == std::string_view::npos) return false;
  std::string text(line.substr(at));
  std::vector<char> word(text.size() + 1);
  int from = 0, to = 0;
  if (std::sscanf(text.c_str(), "%s %d -> %d", word.data(), &from, &to) != 3) return false;
  frag = text;
  return true;
}

// The first word of a name line, as "%s" scans it from the line's C string.
std::string firstWord(std::string_view line) {
  std::string text(line);
  const char* p = text.c_str();
  while (*p && std::isspace(static_cast<unsigned char>(*p))) ++p;
  const char* q = p;
  while (*q && !std::isspace(static_cast<unsigned char>(*q))) ++q;
  return std::string(p, q);
}

// The input as LF text: without a byte-order mark at the very start, and,
// when the first line break is a lone CR, with every CR, LF and CRLF made
// one LF.
std::string lfText(std::string_view in) {
  if (in.substr(0, 3) == "\xEF\xBB\xBF") in.remove_prefix(3);
  size_t at = in.find_first_of("\r\n");
  if (at == std::string_view::npos || in[at] == '\n' || in.substr(at, 2) == "\r\n")
    return std::string(in);
  std::string text;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] != '\r') {
      text += in[i];
    } else {
      text += '\n';
      if (in.substr(i + 1, 1) == "\n") ++i;
    }
  }
  return text;
}

int model(std::string_view raw, const Settings& s, std::string& out) {
  const std::string in = lfText(raw);
  std::vector<std::string_view> lines = splitLines(in);
  size_t i = 0;
  while (i < lines.size() && lines[i].size() <= 1) ++i;
  if (i == lines.size()) return kConvertNoContent;
  if (lines[i][0] != ';' && lines[i][0] != '>') return kConvertNotFormat;

  long iCnt = 0;
  std::string frag;
  while (i < lines.size()) {
    std::string_view line = lines[i++];
    if (line[0] == ';') {
      fragmentOf(line, frag);
      while (i < lines.size() && lines[i][0] == ';') fragmentOf(lines[i++], frag);
      if (i == lines.size()) break;  // ends inside the comment block
      if (iCnt > 0) out += '\n';
      out += '>';
      out += firstWord(lines[i++]);
      if (frag.empty()) {
        out += '\n';
      } else {
        out += ' ';
        out += frag;
        frag.clear();
      }
      iCnt = 0;
    } else if (line[0] == '>') {
      if (iCnt > 0) out += '\n';
      out += line;
      iCnt = 0;
    } else {
      for (unsigned char c : line) {
        bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter && c != '-') continue;
        if (s.noN && (c == 'n' || c == 'N')) continue;
        if (iCnt >= s.lineLen) {
          if (!s.oneLine) out += '\n';
          iCnt = 0;
        }
        out += static_cast<char>(s.toUpper && c >= 'a' && c <= 'z' ? c - 32 : c);
        ++iCnt;
      }
    }
  }
  out += '\n';
  return kConvertOk;
}

// Decompresses gzip members one after another into `out`, as far as they
// go. False when the data is damaged: a bad member, a member cut short, or
// bytes after the last member that do not form a further member.
bool gunzip(const uint8_t* data, size_t size, std::string& out) {
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) std::abort();
  z.next_in = const_cast<uint8_t*>(data);
  z.avail_in = static_cast<uInt>(size);
  bool inMember = false, ok = true;
  unsigned char buf[65536];
  while (z.avail_in > 0 || inMember) {
    if (z.avail_in == 0) {
      ok = false;  // cut short inside a member
      break;
    }
    inMember = true;
    z.next_out = buf;
    z.avail_out = sizeof buf;
    int rc = inflate(&z, Z_NO_FLUSH);
    out.append(reinterpret_cast<char*>(buf), sizeof buf - z.avail_out);
    if (rc == Z_STREAM_END) {
      inMember = false;
      inflateReset(&z);
    } else if (rc != Z_OK && !(rc == Z_BUF_ERROR && z.avail_in == 0)) {
      ok = false;
      break;
    }
  }
  inflateEnd(&z);
  return ok;
}

// A stream that delivers `data` in packets of pseudo-random sizes. The
// number of packets is bounded so that they all fit the socket's buffer.
FILE* openInPieces(const uint8_t* data, size_t size, uint32_t seed) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0) std::abort();
  const size_t maxPiece = 1 + seed % 40;
  size_t at = 0;
  for (int packets = 0; at < size; ++packets) {
    seed = seed * 1103515245u + 12345u;
    size_t piece = (packets == 63) ? size - at : 1 + (seed >> 16) % maxPiece;
    if (piece > size - at) piece = size - at;
    if (send(fds[1], data + at, piece, MSG_DONTWAIT) != static_cast<ssize_t>(piece)) std::abort();
    at += piece;
  }
  close(fds[1]);
  return fdopen(fds[0], "r");
}

void fail(const char* what) {
  std::fprintf(stderr, "convert: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || size > 60000) return 0;
  // Mostly short lines, where breaks happen; a few huge lengths as well.
  static const int kLongLengths[] = {4096, 8192, 65536, 1 << 20, 2147483646, 2147483647};
  int lineLen = data[1] < 250 ? 5 + data[1] : kLongLengths[data[1] - 250];
  Settings s{lineLen, (data[0] & 1) != 0, (data[0] & 2) != 0, (data[0] & 4) != 0};
  bool inPieces = (data[0] & 8) != 0;
  static const ConvertKernel kLoops[] = {kKernelAuto, kKernelPortable, kKernelSsse3,
                                         kKernelAvx2, kKernelAvx512, kKernelNeon};
  ConvertKernel loop = kLoops[((data[0] >> 4) & 7) % 6];
  if (!convertKernelSupported(loop)) loop = kKernelPortable;
  uint32_t seed = data[2];
  const uint8_t* text = data + 3;
  size_t textSize = size - 3;

  FILE* in = inPieces ? openInPieces(text, textSize, seed)
                      : fmemopen(const_cast<uint8_t*>(text), textSize, "r");
  if (in == nullptr) std::abort();

  char* outBuf = nullptr;
  size_t outLen = 0;
  FILE* out = open_memstream(&outBuf, &outLen);
  char* errBuf = nullptr;
  size_t errLen = 0;
  FILE* err = open_memstream(&errBuf, &errLen);
  if (out == nullptr || err == nullptr) std::abort();

  FILE* savedStderr = stderr;
  stderr = err;
  int status = convertWith(in, out, s.lineLen, s.noN, s.toUpper, s.oneLine, loop);
  stderr = savedStderr;
  std::fclose(err);
  std::string got(outBuf, outLen), messages(errBuf, errLen);
  std::free(outBuf);
  std::free(errBuf);

  std::string_view plain(reinterpret_cast<const char*>(text), textSize);
  std::string unpacked;
  bool damaged = false;
  if (textSize >= 2 && text[0] == 0x1f && text[1] == 0x8b) {
    damaged = !gunzip(text, textSize, unpacked);
    plain = unpacked;
  }
  std::string want;
  int wantStatus = model(plain, s, want);

  if (damaged && status == kConvertReadFailed) {
    if (messages != "Failed to read input.\n") fail("unexpected message on damaged input");
    if (want.compare(0, got.size(), got) != 0) fail("output beyond what could be read");
    return 0;
  }
  if (damaged && wantStatus != kConvertNotFormat) fail("damaged input not reported");
  if (status != kConvertOk && status != kConvertNotFormat && status != kConvertNoContent)
    fail("unexpected status");
  if (status != kConvertOk && !got.empty()) fail("output on a failed run");
  if (status == kConvertOk && (got.empty() || got.back() != '\n')) fail("output lacks its line end");
  const char* expectedMessage = status == kConvertNotFormat ? "File is not in IG or FASTA format.\n" : "";
  if (messages != expectedMessage) fail("unexpected message");
  if (status != wantStatus) fail("status differs from the model");
  if (got != want) fail("output differs from the model");
  return 0;
}

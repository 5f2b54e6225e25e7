// SPDX-License-Identifier: MIT
// Fuzzes the conversion engine on arbitrary input bytes and settings.
//
// Layout of a fuzz input: byte 0 holds the flags (bit 0 -unseq, bit 1 -uc,
// bit 2 -ol, bit 3 deliver the input in small pieces, bits 4 to 6 the
// packing loop, as far as the processor has it, bit 7 compress the text
// first), byte 1 the line length (5 to 254, or one of a few huge lengths),
// byte 2 the seed of the piece sizes (its top bits also choose compressed
// output, below); the rest is the input text.
//
// When bit 7 is set, the text's first three bytes say how to compress the
// rest: the format (gzip, as plain members or BGZF, zstd, xz, bzip2: every
// one the engine has built in), whether as one unit or two (with skippable frames or padding beside
// them), and whether to cut, corrupt or extend the result. So mutations of
// plain text reach the decoders as well-formed compressed data.
//
// The engine reads in large blocks, so memory handed over through the
// callback backend gives it the whole input at once. To reach the code that
// carries a line across block boundaries, the input can instead come
// through a sequenced-packet socket read by the descriptor backend: every
// read of it returns one packet, so the packets are the blocks.
//
// The oracle is a straightforward line-by-line model of the conversion
// (of the text made LF text first: byte-order mark dropped, classic Mac line
// ends made LF), written for clarity rather than speed; the engine must
// agree with it on the status, the output bytes and the messages. Input
// that begins with the magic of a compressed format is first decompressed
// for the model, unit after unit, by a plain one-call-per-buffer loop over
// the same library; when the data is damaged the engine must report a read
// error (or the wrong format, if it saw that first, in made-up bytes), having
// written, when handed the input whole, no more than the model writes for the
// part that could be decompressed. A format that was not built in must be
// refused with its own message.
//
// With bits 6 and 7 of byte 2 both set, the engine writes through the
// compressing output, BGZF or zstd (bit 5), on one to three workers; what
// it wrote is decompressed before it is compared. Bits 3 and 4 choose the
// BGZF level.
//
// With bit 7 of byte 2 set and bit 6 clear, the engine writes 2bit (one
// line per sequence, as a run does) into a file, its packed bases in chunks
// of a size byte 1 chooses, held in memory or spilled to the scratch file
// (bit 1 of byte 1), with 32- or 64-bit offsets (bit 0); the file read back
// must hold the model's records, or the names it cannot hold be refused.
//
// QUENBREL_FUZZ_FORMAT=plain|gzip|zstd|xz|bzip2 in the environment keeps
// one format's inputs and passes over the others, to spend a run on one
// decoder; the number of inputs of each format run is printed at the end.
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>
#include <memory>
#ifdef QUENBREL_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif
#ifdef QUENBREL_HAVE_ZSTD
#include <zstd.h>
#endif
#ifdef QUENBREL_HAVE_XZ
#include <lzma.h>
#endif
#ifdef QUENBREL_HAVE_BZIP2
#include <bzlib.h>
#endif

#include "conversion_model.h"
#include "engine/convert.h"
#include "input/formats.h"
#include "input/input.h"
#include "kernels/registry.h"
#include "memory_bytes.h"
#include "output/bgzf.h"
#include "output/dictionary.h"
#include "output/faidx.h"
#include "output/plan.h"
#include "output/twobit.h"
#include "twobit_reader.h"

namespace {

// Decompresses gzip members one after another into `out`, as far as they
// go. False when the data is damaged: a bad member, a member cut short, or
// bytes after the last member that do not form a further member. `clean`,
// when given, receives the size of the text of the members that ended
// clean (the reference decoders below all say so, except xz's: 0).
bool gunzip(const uint8_t* data, size_t size, std::string& out, size_t* clean = nullptr) {
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
      if (clean != nullptr) *clean = out.size();
      inflateReset(&z);
    } else if (rc != Z_OK && !(rc == Z_BUF_ERROR && z.avail_in == 0)) {
      ok = false;
      break;
    }
  }
  inflateEnd(&z);
  return ok;
}

// The decoders below take the whole input, as the engine's do when it is
// handed over whole, and deliver into buffers of the engine's block size.
constexpr size_t kOutCap = 128 * 1024;

#ifdef QUENBREL_HAVE_ISAL
bool unisal(const uint8_t* data, size_t size, std::string& out) {
  std::unique_ptr<inflate_state> s(new inflate_state);
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kOutCap]);
  isal_inflate_init(s.get());
  s->crc_flag = ISAL_GZIP;
  s->next_in = const_cast<uint8_t*>(data);
  s->avail_in = static_cast<uint32_t>(size);
  for (;;) {
    s->next_out = buf.get();
    s->avail_out = kOutCap;
    int rc = isal_inflate(s.get());
    out.append(reinterpret_cast<char*>(buf.get()), kOutCap - s->avail_out);
    if (rc != ISAL_DECOMP_OK) return false;
    if (s->block_state == ISAL_BLOCK_FINISH) {
      if (s->avail_in == 0) return true;
      uint8_t* next = s->next_in;
      uint32_t left = s->avail_in;
      isal_inflate_reset(s.get());
      s->crc_flag = ISAL_GZIP;
      s->next_in = next;
      s->avail_in = left;
    } else if (s->avail_in == 0 && s->avail_out > 0) {
      return false;  // cut short inside a member
    }
  }
}
#endif

#ifdef QUENBREL_HAVE_ZSTD
bool unzstd(const uint8_t* data, size_t size, std::string& out, size_t* clean = nullptr) {
  ZSTD_DStream* d = ZSTD_createDStream();
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kOutCap]);
  ZSTD_inBuffer in{data, size, 0};
  bool ok = true;
  for (;;) {
    ZSTD_outBuffer o{buf.get(), kOutCap, 0};
    size_t rc = ZSTD_decompressStream(d, &o, &in);
    out.append(reinterpret_cast<char*>(buf.get()), o.pos);
    if (ZSTD_isError(rc)) {
      ok = false;
      break;
    }
    if (rc == 0 && clean != nullptr) *clean = out.size();  // a frame ended
    if (in.pos == in.size && o.pos < o.size) {
      ok = rc == 0;  // else cut short inside a frame
      break;
    }
  }
  ZSTD_freeDStream(d);
  return ok;
}
#endif

#ifdef QUENBREL_HAVE_XZ
bool unxz(const uint8_t* data, size_t size, std::string& out, size_t* /*clean*/) {
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(&s, 256u << 20, LZMA_CONCATENATED) != LZMA_OK) std::abort();
  std::unique_ptr<uint8_t[]> buf(new uint8_t[kOutCap]);
  s.next_in = data;
  s.avail_in = size;
  lzma_ret rc;
  do {
    s.next_out = buf.get();
    s.avail_out = kOutCap;
    rc = lzma_code(&s, LZMA_FINISH);
    out.append(reinterpret_cast<char*>(buf.get()), kOutCap - s.avail_out);
  } while (rc == LZMA_OK);
  lzma_end(&s);
  return rc == LZMA_STREAM_END;
}
#endif

#ifdef QUENBREL_HAVE_BZIP2
bool unbzip2(const uint8_t* data, size_t size, std::string& out, size_t* clean) {
  bz_stream s{};
  if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) std::abort();
  std::unique_ptr<char[]> buf(new char[kOutCap]);
  s.next_in = const_cast<char*>(reinterpret_cast<const char*>(data));
  s.avail_in = static_cast<unsigned>(size);
  bool ok = true;
  for (;;) {
    s.next_out = buf.get();
    s.avail_out = kOutCap;
    int rc = BZ2_bzDecompress(&s);
    out.append(buf.get(), kOutCap - s.avail_out);
    if (rc == BZ_STREAM_END) {
      *clean = out.size();
      if (s.avail_in == 0) break;
      char* next = s.next_in;
      unsigned left = s.avail_in;
      BZ2_bzDecompressEnd(&s);
      s = bz_stream{};
      if (BZ2_bzDecompressInit(&s, 0, 0) != BZ_OK) std::abort();
      s.next_in = next;
      s.avail_in = left;
    } else if (rc != BZ_OK || (s.avail_in == 0 && s.avail_out > 0)) {
      ok = false;  // damaged, or cut short inside a stream
      break;
    }
  }
  BZ2_bzDecompressEnd(&s);
  return ok;
}
#endif

void fail(const char* what);

// gzip: zlib decides whether the data is sound. With ISA-L built in, that
// is what the engine runs, so it must agree, and gives the bytes.
bool gzipReference(const uint8_t* data, size_t size, std::string& out, size_t* clean) {
  std::string viaZlib;
  bool ok = gunzip(data, size, viaZlib, clean);
#ifdef QUENBREL_HAVE_ISAL
  // ISA-L's library reads on past some damage zlib stops at (a reserved
  // flag bit, a match reaching back before the member); the engine's ISA-L
  // decoder checks the flags itself, and the damage is reported either way.
  // So only the other direction is a fault.
  bool isalOk = unisal(data, size, out);
  if (ok && !isalOk) fail("ISA-L refuses data zlib reads");
  if (ok && out != viaZlib) fail("ISA-L and zlib decode differently");
  if (!ok) out = viaZlib;
#else
  out = viaZlib;
#endif
  return ok;
}

// The compressed formats, by their magic. `decode` is null when the engine
// was built without the format; it must then refuse it with `missing`.
struct Format {
  bool (*decode)(const uint8_t* data, size_t size, std::string& out, size_t* clean);
  const char* missing;
  const char* name;
};

const char* const kFormatNames[] = {"plain", "gzip", "zstd", "xz", "bzip2"};

// Inputs run per format, printed when the fuzzer exits.
unsigned long* formatRuns() {
  static unsigned long runs[5] = {};
  return runs;
}

void printFormatRuns() {
  std::fprintf(stderr, "inputs run per format:");
  for (int k = 0; k < 5; ++k) std::fprintf(stderr, " %s %lu", kFormatNames[k], formatRuns()[k]);
  std::fprintf(stderr, "\n");
}

// Whether to run an input of the format `name`, and count it if so.
bool wanted(const char* name) {
  static const char* only = std::getenv("QUENBREL_FUZZ_FORMAT");
  if (only != nullptr && std::strcmp(only, name) != 0) return false;
  for (int k = 0; k < 5; ++k) {
    if (std::strcmp(kFormatNames[k], name) == 0) ++formatRuns()[k];
  }
  return true;
}

// The reference decoder of each format the engine has built in.
bool (*referenceDecoder(const char* name))(const uint8_t*, size_t, std::string&, size_t*) {
  if (std::strcmp(name, "gzip") == 0) return gzipReference;
#ifdef QUENBREL_HAVE_ZSTD
  if (std::strcmp(name, "zstd") == 0) return unzstd;
#endif
#ifdef QUENBREL_HAVE_XZ
  if (std::strcmp(name, "xz") == 0) return unxz;
#endif
#ifdef QUENBREL_HAVE_BZIP2
  if (std::strcmp(name, "bzip2") == 0) return unbzip2;
#endif
  return nullptr;
}

// The format whose magic opens `p`, from the engine's own table, or null.
const Format* formatOf(const uint8_t* p, size_t n) {
  static std::vector<Format> formats;
  if (formats.empty()) {
    for (const InputFormat& f : inputFormats()) {
      formats.push_back({f.open ? referenceDecoder(f.name) : nullptr, f.missing, f.name});
    }
  }
  size_t row = 0;
  for (const InputFormat& f : inputFormats()) {
    if (n >= f.magicSize && agreesWithMagic(f, p, n)) return &formats[row];
    ++row;
  }
  return nullptr;
}

// --- compressing the text (bit 7 of the flags) ----------------------------

std::string gzipUnit(std::string_view in) {
  z_stream z{};
  if (deflateInit2(&z, 1, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  std::string out(deflateBound(&z, in.size()) + 64, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  z.avail_in = static_cast<uInt>(in.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// BGZF: members of at most 200 bytes of text, as the BGZF reader cuts them
// apart, then the empty member.
std::string bgzfUnit(std::string_view in) {
  std::string out;
  for (size_t at = 0; at < in.size(); at += 200) {
    std::string_view part = in.substr(at, 200);
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
    std::string body(deflateBound(&z, part.size()) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(part.data()));
    z.avail_in = static_cast<uInt>(part.size());
    z.next_out = reinterpret_cast<Bytef*>(&body[0]);
    z.avail_out = static_cast<uInt>(body.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
    body.resize(z.total_out);
    deflateEnd(&z);
    size_t size = 18 + body.size() + 8;
    uLong crc =
        crc32(0L, reinterpret_cast<const Bytef*>(part.data()), static_cast<uInt>(part.size()));
    out += std::string("\x1f\x8b\x08\x04\0\0\0\0\0\xff\x06\0BC\x02\0", 16);
    out += static_cast<char>((size - 1) & 0xff);
    out += static_cast<char>((size - 1) >> 8);
    out += body;
    for (uLong v : {crc, static_cast<uLong>(part.size())}) {
      for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xff);
    }
  }
  return out + std::string(
                   "\x1f\x8b\x08\x04\0\0\0\0\0\xff\x06\0BC\x02\0\x1b\0\x03\0\0\0\0\0\0\0\0\0", 28);
}

#ifdef QUENBREL_HAVE_ZSTD
std::string zstdUnit(std::string_view in) {
  ZSTD_CCtx* c = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, 1);
  ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1);
  std::string out(ZSTD_compressBound(in.size()), '\0');
  size_t n = ZSTD_compress2(c, &out[0], out.size(), in.data(), in.size());
  if (ZSTD_isError(n)) std::abort();
  ZSTD_freeCCtx(c);
  out.resize(n);
  return out;
}
#endif

#ifdef QUENBREL_HAVE_XZ
std::string xzUnit(std::string_view in) {
  std::string out(lzma_stream_buffer_bound(in.size()), '\0');
  size_t n = 0;
  if (lzma_easy_buffer_encode(0, LZMA_CHECK_CRC32, nullptr,
                              reinterpret_cast<const uint8_t*>(in.data()), in.size(),
                              reinterpret_cast<uint8_t*>(&out[0]), &n, out.size()) != LZMA_OK)
    std::abort();
  out.resize(n);
  return out;
}
#endif

#ifdef QUENBREL_HAVE_BZIP2
std::string bzip2Unit(std::string_view in) {
  std::string out(in.size() + in.size() / 100 + 700, '\0');
  unsigned n = static_cast<unsigned>(out.size());
  if (BZ2_bzBuffToBuffCompress(&out[0], &n, const_cast<char*>(in.data()),
                               static_cast<unsigned>(in.size()), 1, 0, 30) != BZ_OK)
    std::abort();
  out.resize(n);
  return out;
}
#endif

// Compresses `in` as its three control bytes say (see the top of the file).
std::string compressed(std::string_view in) {
  if (in.size() < 3) return std::string(in);
  uint8_t how = static_cast<uint8_t>(in[0]), at = static_cast<uint8_t>(in[1]),
          with = static_cast<uint8_t>(in[2]);
  std::string_view text = in.substr(3);
  // gzip as plain members, or as BGZF (bit 5), read on two workers.
  std::string (*unit)(std::string_view) = (how & 0x20) ? bgzfUnit : gzipUnit;
  std::string filler, lead;  // what may stand between units, and before the first
  switch (how & 3) {
#ifdef QUENBREL_HAVE_ZSTD
    case 1:
      unit = zstdUnit;
      filler = lead = std::string("\x50\x2a\x4d\x18\x02\x00\x00\x00zz", 10);
      break;
#endif
#ifdef QUENBREL_HAVE_XZ
    case 2:
      unit = xzUnit;
      filler = std::string(4, '\0');
      break;
#endif
#ifdef QUENBREL_HAVE_BZIP2
    case 3: unit = bzip2Unit; break;
#endif
    default: break;
  }
  size_t split = text.size() * at / 256;
  std::string out;
  switch ((how >> 2) & 7) {
    case 2:  // two units
      out = unit(text.substr(0, split)) + unit(text.substr(split));
      break;
    case 3:  // two units with what may stand beside them
      out = lead + unit(text.substr(0, split)) + filler + unit(text.substr(split)) + filler;
      break;
    case 4:  // cut short
      out = unit(text);
      out.resize(out.size() * at / 256);
      break;
    case 5:  // one byte corrupted
      out = unit(text);
      out[out.size() * at / 256] ^= static_cast<char>(with | 1);
      break;
    case 6:  // a trailing byte
      out = unit(text) + static_cast<char>(with);
      break;
    case 7:  // the start of a further unit
      out = unit(text);
      out += out.substr(0, 1 + with % 16);
      break;
    default: out = unit(text); break;
  }
  return out;
}

// A descriptor that delivers `data` in packets of pseudo-random sizes. The
// number of packets is bounded so that they all fit the socket's buffer.
int openInPieces(const uint8_t* data, size_t size, uint32_t seed) {
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
  return fds[0];
}

void fail(const char* what) {
  std::fprintf(stderr, "convert: %s\n", what);
  std::abort();
}

// What a builder writes for the output `out`.
template <typename Builder, typename... Args>
std::string describe(const std::string& out, Args... args) {
  char* buf = nullptr;
  size_t len = 0;
  FILE* F = open_memstream(&buf, &len);
  if (F == nullptr) std::abort();
  {
    Builder builder(F, args...);
    builder.feed(reinterpret_cast<const unsigned char*>(out.data()), out.size());
    if (!builder.end()) fail("the index or the dictionary failed");
  }
  std::fclose(F);
  std::string text(buf, len);
  std::free(buf);
  return text;
}

// The index of the output `out`: the builder's listing, settled.
std::string indexOf(const std::string& out) {
  FILE* listing = std::tmpfile();
  if (listing == nullptr) std::abort();
  NameLog names;
  {
    FaidxBuilder builder(listing, names);
    builder.feed(reinterpret_cast<const unsigned char*>(out.data()), out.size());
    if (!builder.end()) fail("the index failed");
  }
  RepeatedNames repeated(names.takeRepeatedHashes());
  std::rewind(listing);
  char* buf = nullptr;
  size_t len = 0;
  FILE* F = open_memstream(&buf, &len);
  if (F == nullptr) std::abort();
  if (!settleIndex(listing, F, repeated)) fail("the index failed");
  std::fclose(F);
  std::fclose(listing);
  std::string index(buf, len);
  std::free(buf);
  return index;
}

// The index and the dictionary of one output agree, so that tools that
// check one against the other accept them: the dictionary lists every
// record, and each record the index lists has the length the dictionary
// gives the first record of its name with residues.
void checkIndexAgainstDictionary(const std::string& out) {
  std::istringstream fai(indexOf(out));
  std::istringstream dict(describe<DictionaryLines>(out, std::string("/o.fa")));
  size_t headers = 0;
  for (size_t at = 0; at < out.size();) {
    if (out[at] == '>') ++headers;
    size_t lf = out.find('\n', at);
    if (lf == std::string::npos) break;
    at = lf + 1;
  }
  std::map<std::string, std::string> firstLength;
  size_t records = 0;
  std::string line;
  std::getline(dict, line);  // @HD
  while (std::getline(dict, line)) {
    ++records;
    size_t sn = line.find("\tSN:") + 4, ln = line.find("\tLN:", sn);
    std::string name = line.substr(sn, ln - sn);
    std::string length = line.substr(ln + 4, line.find('\t', ln + 4) - ln - 4);
    if (length != "0") firstLength.emplace(name, length);
  }
  if (records != headers) fail("the dictionary does not list every record");
  size_t entries = 0;
  while (std::getline(fai, line)) {
    ++entries;
    size_t tab = line.find('\t');
    auto it = firstLength.find(line.substr(0, tab));
    if (it == firstLength.end() ||
        it->second != line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1))
      fail("the index and the dictionary disagree on a length");
  }
  if (entries != firstLength.size()) fail("the index and the dictionary list other names");
}

// --- 2bit output -----------------------------------------------------------

// Where the 2bit output of each input is written, and removed again.
const std::string& twoBitPath() {
  static const std::string path = [] {
    const char* base = std::getenv("TMPDIR");
    std::string dir =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/quenbrel-fuzz-XXXXXX";
    if (mkdtemp(&dir[0]) == nullptr) fail("no folder for the 2bit output");
    return dir + "/out.2bit";
  }();
  return path;
}

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r' && c != '\n'); }

// The name 2bit gives a header line (without its ">"): the first word after
// blanks, up to a NUL.
std::string firstWord(std::string_view header) {
  size_t i = 0;
  while (i < header.size() && isBlank(header[i])) ++i;
  size_t j = i;
  while (j < header.size() && !isBlank(header[j])) ++j;
  std::string name(header.substr(i, j - i));
  return name.substr(0, name.find('\0'));
}

// The file the 2bit sink wrote for a run of `status` on text the model
// converts to `modelled` (one line per sequence), against the model: its
// records, or the refusal of a name.
void checkTwoBit(const TwoBitSink& sink, int status, bool damaged, const model::Outcome& modelled) {
  std::string bytes;
  std::FILE* f = std::fopen(twoBitPath().c_str(), "rb");
  const bool exists = f != nullptr;
  if (exists) {
    char buffer[4096];
    for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
      bytes.append(buffer, got);
    std::fclose(f);
    std::remove(twoBitPath().c_str());
  }
  const bool complete = status == kConvertOk || status == kConvertNoContent;
  if (damaged || (!complete && sink.refusal().empty())) {
    if (exists) fail("a 2bit file after a failed run");
    return;
  }
  std::vector<std::pair<std::string, std::string>> want;
  std::set<std::string> names;
  std::string refusal;
  uint64_t others = 0;
  std::string_view out = modelled.out;
  for (size_t at = 0; at < out.size();) {
    size_t end = out.find('\n', at);
    std::string_view line = out.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line[0] == '>') {
      std::string name = firstWord(line.substr(1));
      if (refusal.empty() && (name.empty() || name.size() > 255 || !names.insert(name).second))
        refusal = name.empty() ? "empty" : name.size() > 255 ? "long" : "repeated";
      want.push_back({name, ""});
    } else if (!want.empty()) {
      want.back().second += testutil::asTwoBit(std::string(line));
      for (char c : line) others += std::strchr("ACGTNacgtn", c) == nullptr;
    }
  }
  if (!refusal.empty()) {
    if (status != kConvertWriteFailed || sink.refusal().empty() || exists)
      fail("a 2bit name not refused");
    return;
  }
  if (!sink.refusal().empty() || status != modelled.status) fail("2bit run misreported");
  testutil::TwoBitFile got;
  if (!exists || !testutil::readTwoBit(bytes, got)) fail("no 2bit file read back");
  if (got.records != want) fail("2bit records differ from the model");
  if (sink.writtenAsN() != others) fail("2bit letters written as N miscounted");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::atexit(printFormatRuns);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3 || size > 60000) return 0;
  // Mostly short lines, where breaks happen; a few huge lengths as well.
  static const int kLongLengths[] = {4096, 8192, 65536, 1 << 20, 2147483646, 2147483647};
  int lineLen = data[1] < 250 ? 5 + data[1] : kLongLengths[data[1] - 250];
  ConvertOptions s;
  s.lineLen = lineLen;
  s.dropN = (data[0] & 1) != 0;
  s.upperCase = (data[0] & 2) != 0;
  s.oneLine = (data[0] & 4) != 0;
  bool inPieces = (data[0] & 8) != 0;
  // 0: the engine's own choice; else a kernel of the list, the portable one
  // when the processor lacks it.
  kernels::KernelList all = kernels::allKernels();
  size_t pick = ((data[0] >> 4) & 7) % (static_cast<size_t>(all.end() - all.begin()) + 1);
  if (pick > 0) {
    const kernels::Kernel& k = all.begin()[pick - 1];
    s.kernel = kernels::runsOn(k, kernels::cpuFeatures()) ? &k : &all.end()[-1];
  }
  uint32_t seed = data[2];
  const uint8_t* text = data + 3;
  size_t textSize = size - 3;
  std::string packed;
  // The packings that damage what follows a whole unit: a trailing byte,
  // the start of a further unit (see compressed()).
  int packing = textSize >= 3 ? (text[0] >> 2) & 7 : 0;
  bool damageAfterFirstUnit = (data[0] & 0x80) != 0 && (packing == 6 || packing == 7);
  if (data[0] & 0x80) {
    packed = compressed(std::string_view(reinterpret_cast<const char*>(text), textSize));
    if (packed.size() > 60000) return 0;  // beyond what the pieces may hold
    text = reinterpret_cast<const uint8_t*>(packed.data());
    textSize = packed.size();
  }
  const Format* format = formatOf(text, textSize);
  if (!wanted(format ? format->name : "plain")) return 0;

  std::unique_ptr<ByteSource> in =
      inPieces
          ? descriptorSource(openInPieces(text, textSize, seed), true)
          : testutil::memorySource(std::string_view(reinterpret_cast<const char*>(text), textSize));
  std::string got;

  OutputPlan plan;
  bool compressed = (data[2] & 0xc0) == 0xc0;
  bool twoBit = (data[2] & 0xc0) == 0x80;
  bool zstdOut = false;
  if (compressed) {
#ifdef QUENBREL_HAVE_ZSTD
    zstdOut = (data[2] & 0x20) != 0;
#endif
    // BGZF at levels 0 (stored), 1 (the sequence coder), 2 and 6.
    static const int kLevels[4] = {0, 1, 2, 6};
    plan.format = zstdOut ? OutputFormat::kZstd : OutputFormat::kBgzf;
    plan.level = zstdOut ? 1 : kLevels[(data[2] >> 3) & 3];
    plan.threads = 1 + data[2] % 3;
  }
  std::unique_ptr<Sink> sink = makeOutputChain(testutil::memorySink(got), plan, nullptr);
  TwoBitSink* twoBitSink = nullptr;
  if (twoBit) {
    s.oneLine = true;
    auto made = std::make_unique<TwoBitSink>((data[1] & 1) != 0 ? 1 : TwoBitSink::kLongFrom,
                                             (data[1] & 2) != 0 ? 0 : TwoBitSink::kMemoryMax,
                                             2 + (data[1] >> 2) % 40);
    if (!made->open(twoBitPath())) fail("2bit output not opened");
    twoBitSink = made.get();
    sink = std::move(made);
  }

  // BGZF input is inflated on workers when there are two.
  s.threads = 1 + (data[2] & 1);
  ConvertResult result = convert(*in, *sink, s);
  int status = result.status;
  const std::string& messages = result.message;
  if (compressed) {
    // A complete run ends its compressed stream, also one that wrote
    // nothing. A failed one leaves what it converted, marked as cut short:
    // BGZF without its end-of-file member, zstd with a frame never
    // finished.
    std::string packedOut = got;
    got.clear();
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(packedOut.data());
    bool whole = status == kConvertOk || status == kConvertNoContent;
    bool read = false;
    bool ended = false;
#ifdef QUENBREL_HAVE_ZSTD
    if (zstdOut) read = ended = unzstd(bytes, packedOut.size(), got);
#endif
    if (!zstdOut) {
      read = gunzip(bytes, packedOut.size(), got);
      ended =
          packedOut.size() >= sizeof kBgzfEof &&
          std::memcmp(bytes + packedOut.size() - sizeof kBgzfEof, kBgzfEof, sizeof kBgzfEof) == 0;
    }
    if (whole && (!read || packedOut.empty())) fail("compressed output does not decompress");
    if (!whole && !zstdOut && !read) fail("members of a failed run do not decompress");
    if (ended != whole) fail("the end of the compressed output misstates the run");
  }

  std::string_view plain(reinterpret_cast<const char*>(text), textSize);
  std::string unpacked;
  size_t cleanSize = 0;  // of the units before the damage
  bool damaged = false;
  if (const Format* f = format) {
    if (f->decode == nullptr) {
      if (status != kConvertReadFailed || messages != f->missing || !got.empty())
        fail("format not built in, not refused by name");
      return 0;
    }
    damaged = !f->decode(text, textSize, unpacked, &cleanSize);
    plain = unpacked;
  }
  model::Outcome modelled = model::convert(std::string(plain), s);
  if (twoBitSink != nullptr) {
    checkTwoBit(*twoBitSink, status, damaged, modelled);
    return 0;
  }
  const std::string& want = modelled.out;
  int wantStatus = modelled.status;

  if (damaged && status == kConvertReadFailed) {
    // Only the xz memory limit and the zstd window limit have messages of
    // their own.
    if (messages != "Failed to read input.\n" && messages.rfind("The xz input needs ", 0) != 0 &&
        messages != "The zstd input needs a window larger than the 128 MiB limit.\n")
      fail("unexpected message on damaged input");
    // Handed over in pieces, a decoder may deliver made-up bytes that the
    // reference, seeing the whole input, finds wrong before delivering. So
    // may ISA-L's inflate on a whole input: it copies a match reaching back
    // before the start of a member from its empty window, where zlib stops;
    // the member's check value then fails the run.
    bool madeUpBytesAllowed = inPieces;
#ifdef QUENBREL_HAVE_ISAL
    madeUpBytesAllowed |= std::strcmp(format->name, "gzip") == 0;
#endif
    if (!madeUpBytesAllowed && want.compare(0, got.size(), got) != 0)
      fail("output beyond what could be read");
    return 0;
  }
  // A run in the wrong format reads on only to the end of the unit that
  // holds its first line, and kCheckReach decoded bytes at most: damage
  // that the packing put after the one unit (a byte after it, the start of
  // a further one), or in a later unit (BGZF member), or that the reference
  // found only that far in, is not seen there, and the wrong format is the
  // verdict. Units that ended clean and are in the wrong format on their
  // own show it, unless they end inside a byte-order mark.
  std::string_view cleanText = std::string_view(unpacked).substr(0, cleanSize);
  bool cleanInWrongFormat =
      model::convert(std::string(cleanText), s).status == kConvertNotFormat &&
      std::string_view("\xEF\xBB\xBF").substr(0, cleanText.size()) != cleanText;
  bool damageOutOfReach =
      damageAfterFirstUnit || cleanInWrongFormat || unpacked.size() >= Input::kCheckReach;
  if (damaged && status == kConvertNotFormat && damageOutOfReach) {
    if (messages != "File is not in IG or FASTA format.\n" || !got.empty() ||
        wantStatus != kConvertNotFormat)
      fail("wrong format before damage misreported");
    return 0;
  }
  // Made-up bytes a decoder delivered before it found the damage may look
  // like text in the wrong format; the damage must still be the verdict.
  if (damaged) fail("damaged input not reported");
  if (status != kConvertOk && status != kConvertNotFormat && status != kConvertNoContent)
    fail("unexpected status");
  if (status != kConvertOk && !got.empty()) fail("output on a failed run");
  if (status == kConvertOk && (got.empty() || got.back() != '\n'))
    fail("output lacks its line end");
  const char* expectedMessage =
      status == kConvertNotFormat ? "File is not in IG or FASTA format.\n" : "";
  if (messages != expectedMessage) fail("unexpected message");
  if (status != wantStatus) fail("status differs from the model");
  if (got != want) fail("output differs from the model");
  checkIndexAgainstDictionary(got);
  return 0;
}

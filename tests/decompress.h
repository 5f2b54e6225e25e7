// SPDX-License-Identifier: MIT
// Reading compressed output back in the tests: gzip members one after
// another (zlib), BGZF's own rules, and zstd frames where libzstd is built
// in.
#ifndef QUENBREL_TESTS_DECOMPRESS_H
#define QUENBREL_TESTS_DECOMPRESS_H

#include <zlib.h>

#include <string>
#ifdef QUENBREL_HAVE_ZSTD
#include <zstd.h>
#endif

namespace testutil {

// Every gzip member of `data`, decompressed into `out`; false when a member
// is damaged or cut short.
inline bool gunzipAll(const std::string& data, std::string& out) {
  out.clear();
  size_t at = 0;
  while (at < data.size()) {
    z_stream z{};
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return false;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + at));
    z.avail_in = static_cast<uInt>(data.size() - at);
    int rc = Z_OK;
    char buf[65536];
    while (rc == Z_OK) {
      z.next_out = reinterpret_cast<Bytef*>(buf);
      z.avail_out = sizeof buf;
      rc = inflate(&z, Z_NO_FLUSH);
      out.append(buf, sizeof buf - z.avail_out);
    }
    at += z.total_in;
    inflateEnd(&z);
    if (rc != Z_STREAM_END) return false;
  }
  return true;
}

// Whether `data` ends with BGZF's end-of-file member, the mark of a whole
// file.
inline bool endsWithBgzfEof(const std::string& data) {
  static const std::string kEof(
      "\x1f\x8b\x08\x04\x00\x00\x00\x00\x00\xff\x06\x00\x42\x43\x02\x00\x1b\x00\x03\x00\x00\x00"
      "\x00\x00\x00\x00\x00\x00",
      28);
  return data.size() >= kEof.size() && data.compare(data.size() - 28, 28, kEof) == 0;
}

// Whether `data` is BGZF: members of at most 64 KiB, each with the "BC"
// field giving its size, the empty 28-byte member last.
inline bool isBgzf(const std::string& data) {
  if (!endsWithBgzfEof(data)) return false;
  size_t at = 0;
  while (at < data.size()) {
    if (data.size() - at < 18 || data.compare(at, 4, "\x1f\x8b\x08\x04", 4) != 0 ||
        data.compare(at + 10, 6, "\x06\x00\x42\x43\x02\x00", 6) != 0)
      return false;
    size_t size = static_cast<unsigned char>(data[at + 16]) +
                  256 * static_cast<size_t>(static_cast<unsigned char>(data[at + 17])) + 1;
    if (size > data.size() - at) return false;
    at += size;
  }
  return true;
}

#ifdef QUENBREL_HAVE_ZSTD
// Every zstd frame of `data`, decompressed into `out`.
inline bool unzstdAll(const std::string& data, std::string& out) {
  out.clear();
  ZSTD_DStream* d = ZSTD_createDStream();
  ZSTD_inBuffer in{data.data(), data.size(), 0};
  size_t rc = 0;
  char buf[65536];
  while (in.pos < in.size) {
    ZSTD_outBuffer o{buf, sizeof buf, 0};
    rc = ZSTD_decompressStream(d, &o, &in);
    out.append(buf, o.pos);
    if (ZSTD_isError(rc)) break;
  }
  for (ZSTD_outBuffer o{buf, sizeof buf, sizeof buf}; !ZSTD_isError(rc) && rc != 0 && o.pos > 0;) {
    o.pos = 0;
    rc = ZSTD_decompressStream(d, &o, &in);
    out.append(buf, o.pos);
  }
  ZSTD_freeDStream(d);
  return !ZSTD_isError(rc) && rc == 0;
}
#endif

}  // namespace testutil

#endif  // QUENBREL_TESTS_DECOMPRESS_H

// SPDX-License-Identifier: MIT
// BGZF members, and the zlib compressor that always works.
#include "output/bgzf.h"

#include <zlib.h>

#include <cstring>

#include "output/huffman.h"

namespace {

// zlib's raw deflate, one member per job; the stream is reset between
// members, so that each one stands alone.
class ZlibTask : public PoolTask {
 public:
  explicit ZlibTask(int level) : level_(level) {
    ok_ = deflateInit2(&z_, level > 9 ? 9 : level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~ZlibTask() override {
    if (ok_) deflateEnd(&z_);
  }
  ZlibTask(const ZlibTask&) = delete;
  ZlibTask& operator=(const ZlibTask&) = delete;

  bool run(PoolJob& job) override {
    if (!ok_ || deflateReset(&z_) != Z_OK) return false;
    uint32_t crc = static_cast<uint32_t>(crc32(0L, job.in.get(), static_cast<uInt>(job.inLen)));
    const size_t room = kBgzfMemberMax - kBgzfHeaderSize - kBgzfTrailerSize;
    if (level_ == kBgzfLevelSequence) {
      size_t n = sequence_.deflate(job.in.get(), job.inLen, job.out.get() + kBgzfHeaderSize, room);
      if (n > 0) {
        job.outLen = bgzfFrame(job.out.get(), n, crc, job.inLen);
        return true;
      }
    }
    z_.next_in = job.in.get();
    z_.avail_in = static_cast<uInt>(job.inLen);
    z_.next_out = job.out.get() + kBgzfHeaderSize;
    z_.avail_out = static_cast<uInt>(room);
    if (deflate(&z_, Z_FINISH) == Z_STREAM_END) {
      job.outLen = bgzfFrame(job.out.get(), room - z_.avail_out, crc, job.inLen);
    } else {
      job.outLen = bgzfStored(job.out.get(), job.in.get(), job.inLen, crc);
    }
    return true;
  }

 private:
  int level_;
  SequenceDeflater sequence_;
  z_stream z_{};
  bool ok_ = false;
};

}  // namespace

size_t bgzfFrame(unsigned char* out, size_t deflated, uint32_t crc, size_t n) {
  static const unsigned char kHeader[16] = {0x1f, 0x8b, 8, 4, 0,   0,   0, 0,
                                            0,    0xff, 6, 0, 'B', 'C', 2, 0};
  size_t size = kBgzfHeaderSize + deflated + kBgzfTrailerSize;
  std::memcpy(out, kHeader, sizeof kHeader);
  writeLe16(out + 16, static_cast<unsigned>(size - 1));
  unsigned char* t = out + kBgzfHeaderSize + deflated;
  writeLe32(t, crc);
  writeLe32(t + 4, static_cast<uint32_t>(n));
  return size;
}

size_t bgzfStored(unsigned char* out, const unsigned char* in, size_t n, uint32_t crc) {
  // One stored block holds at most 65535 bytes: a chunk fits in one.
  unsigned char* p = out + kBgzfHeaderSize;
  p[0] = 1;  // the last block, stored
  writeLe16(p + 1, static_cast<unsigned>(n));
  writeLe16(p + 3, static_cast<unsigned>(~n & 0xffff));
  std::memcpy(p + 5, in, n);
  return bgzfFrame(out, n + 5, crc, n);
}

std::unique_ptr<PoolTask> bgzfZlibTask(int level) {
  return std::unique_ptr<PoolTask>(new ZlibTask(level));
}

std::unique_ptr<PoolTask> bgzfTask(int level) {
#ifdef QUENBREL_HAVE_LIBDEFLATE
  return bgzfLibdeflateTask(level);
#else
  return bgzfZlibTask(level);
#endif
}

// SPDX-License-Identifier: MIT
// BGZF members: one per job, coded the one way whatever library deflates.
#include "output/bgzf.h"

#include <cstring>

#include "output/huffman.h"

namespace {

// Plain bytes into a member: at the sequence level the sequence coder
// first, then the library; stored when nothing fits.
class MemberTask : public PoolTask {
 public:
  MemberTask(int level, std::unique_ptr<MemberDeflater> library)
      : level_(level), library_(std::move(library)) {}

  bool run(PoolJob& job) override {
    if (!library_->ready()) return false;
    uint32_t crc = library_->crc32(job.in.get(), job.inLen);
    const size_t room = kBgzfMemberMax - kBgzfHeaderSize - kBgzfTrailerSize;
    unsigned char* deflated = job.out.get() + kBgzfHeaderSize;
    size_t n = 0;
    if (level_ == kBgzfLevelSequence)
      n = sequence_.deflate(job.in.get(), job.inLen, deflated, room);
    if (n == 0) n = library_->deflate(job.in.get(), job.inLen, deflated, room);
    job.outLen = n > 0 ? bgzfFrame(job.out.get(), n, crc, job.inLen)
                       : bgzfStored(job.out.get(), job.in.get(), job.inLen, crc);
    return true;
  }

 private:
  int level_;
  SequenceDeflater sequence_;
  std::unique_ptr<MemberDeflater> library_;
};

}  // namespace

size_t bgzfFrame(unsigned char* out, size_t deflated, uint32_t crc, size_t n) {
  static const unsigned char kHeader[16] = {0x1f, 0x8b, 8, 4, 0,   0,   0, 0,
                                            0,    0xff, 6, 0, 'B', 'C', 2, 0};
  size_t size = kBgzfHeaderSize + deflated + kBgzfTrailerSize;
  std::memcpy(out, kHeader, sizeof kHeader);
  writeLe16(out + 16, static_cast<uint32_t>(size - 1));
  unsigned char* t = out + kBgzfHeaderSize + deflated;
  writeLe32(t, crc);
  writeLe32(t + 4, static_cast<uint32_t>(n));
  return size;
}

size_t bgzfStored(unsigned char* out, const unsigned char* in, size_t n, uint32_t crc) {
  // One stored block holds at most 65535 bytes: a chunk fits in one.
  unsigned char* p = out + kBgzfHeaderSize;
  p[0] = 1;  // the last block, stored
  writeLe16(p + 1, static_cast<uint32_t>(n));
  writeLe16(p + 3, static_cast<uint32_t>(~n & 0xffff));
  std::memcpy(p + 5, in, n);
  return bgzfFrame(out, n + 5, crc, n);
}

std::unique_ptr<PoolTask> bgzfTask(int level) {
#ifdef QUENBREL_HAVE_LIBDEFLATE
  return std::make_unique<MemberTask>(level, libdeflateDeflater(level));
#else
  return std::make_unique<MemberTask>(level, zlibDeflater(level));
#endif
}

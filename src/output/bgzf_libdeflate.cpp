// SPDX-License-Identifier: MIT
// BGZF members through libdeflate, which compresses a whole buffer at once:
// faster than zlib's streaming deflate at every level, and a member is
// always a whole buffer.
#include <libdeflate.h>

#include "output/bgzf.h"
#include "output/huffman.h"

namespace {

class LibdeflateTask : public PoolTask {
 public:
  explicit LibdeflateTask(int level) : level_(level), c_(libdeflate_alloc_compressor(level)) {}
  ~LibdeflateTask() override { libdeflate_free_compressor(c_); }
  LibdeflateTask(const LibdeflateTask&) = delete;
  LibdeflateTask& operator=(const LibdeflateTask&) = delete;

  bool run(PoolJob& job) override {
    if (c_ == nullptr) return false;
    uint32_t crc = libdeflate_crc32(0, job.in.get(), job.inLen);
    const size_t room = kBgzfMemberMax - kBgzfHeaderSize - kBgzfTrailerSize;
    unsigned char* deflated = job.out.get() + kBgzfHeaderSize;
    size_t n = 0;
    if (level_ == kBgzfLevelSequence)
      n = sequence_.deflate(job.in.get(), job.inLen, deflated, room);
    if (n == 0) n = libdeflate_deflate_compress(c_, job.in.get(), job.inLen, deflated, room);
    // Zero: it did not fit, so the data goes stored.
    job.outLen = n > 0 ? bgzfFrame(job.out.get(), n, crc, job.inLen)
                       : bgzfStored(job.out.get(), job.in.get(), job.inLen, crc);
    return true;
  }

 private:
  int level_;
  SequenceDeflater sequence_;
  libdeflate_compressor* c_;
};

}  // namespace

std::unique_ptr<PoolTask> bgzfLibdeflateTask(int level) {
  return std::unique_ptr<PoolTask>(new LibdeflateTask(level));
}

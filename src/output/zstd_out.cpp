// SPDX-License-Identifier: MIT
// zstd output through libzstd.
#include "output/zstd_out.h"

#include <zstd.h>

namespace {

// Large enough that independent frames cost little against one frame, small
// enough that the chunks in flight stay within a few MiB.
constexpr size_t kChunk = size_t{2} << 20;

class ZstdTask : public PoolTask {
 public:
  explicit ZstdTask(int level) : c_(ZSTD_createCCtx()) {
    if (c_ == nullptr) return;
    ZSTD_CCtx_setParameter(c_, ZSTD_c_compressionLevel, level);
    ZSTD_CCtx_setParameter(c_, ZSTD_c_checksumFlag, 1);
  }
  ~ZstdTask() override { ZSTD_freeCCtx(c_); }
  ZstdTask(const ZstdTask&) = delete;
  ZstdTask& operator=(const ZstdTask&) = delete;

  bool run(PoolJob& job) override {
    if (c_ == nullptr) return false;
    size_t n =
        ZSTD_compress2(c_, job.out.get(), ZSTD_compressBound(kChunk), job.in.get(), job.inLen);
    if (ZSTD_isError(n)) return false;
    job.outLen = n;
    return true;
  }

 private:
  ZSTD_CCtx* c_;
};

}  // namespace

bool zstdOutputBuilt() { return true; }
size_t zstdChunk() { return kChunk; }
size_t zstdBound() { return ZSTD_compressBound(kChunk); }
std::unique_ptr<PoolTask> zstdTask(int level) { return std::make_unique<ZstdTask>(level); }

// SPDX-License-Identifier: MIT
// The page's gzip inflater held against zlib's inflate(): both are stepped
// through the same bytes as the input layer steps its decoders, and must
// give the same output, end their members at the same bytes and find the
// same damage. Shared by the gzip tests and the inflate fuzzer.
#ifndef QUENBREL_TESTS_INFLATE_CHECK_H
#define QUENBREL_TESTS_INFLATE_CHECK_H

#include <zlib.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "input/gzip_inflater.h"

namespace inflatecheck {

// What stepping through a whole input gave.
struct Outcome {
  std::string out;
  std::vector<size_t> memberEnds;  // the input offset after each member
  bool failed = false;
  bool operator==(const Outcome& o) const {
    return out == o.out && memberEnds == o.memberEnds && failed == o.failed;
  }
};

enum class StepResult { kGoing, kMemberEnded, kFailed };
using Stepper = std::function<StepResult(const unsigned char* in, size_t inLen, unsigned char* out,
                                         size_t outLen, size_t& inUsed, size_t& outUsed)>;

// Steps through `in`, each step given at most the input and output sizes
// `sizes` says (cycled), until the input is used up and a step makes
// nothing, a step fails, or the last member ends with the input.
inline Outcome stepThrough(const std::string& in, const std::vector<size_t>& sizes,
                           const Stepper& step) {
  Outcome o;
  std::vector<unsigned char> buf;
  size_t at = 0;
  for (size_t k = 0;; k += 2) {
    size_t inLen = std::min(sizes[k % sizes.size()], in.size() - at);
    buf.resize(sizes[(k + 1) % sizes.size()]);
    size_t inUsed = 0, outUsed = 0;
    StepResult r = step(reinterpret_cast<const unsigned char*>(in.data()) + at, inLen, buf.data(),
                        buf.size(), inUsed, outUsed);
    at += inUsed;
    o.out.append(reinterpret_cast<const char*>(buf.data()), outUsed);
    if (r == StepResult::kFailed) {
      o.failed = true;
      return o;
    }
    if (r == StepResult::kMemberEnded) {
      o.memberEnds.push_back(at);
      if (at == in.size()) return o;
    } else if (at == in.size() && outUsed == 0) {
      return o;
    }
  }
}

// zlib's inflate with a gzip wrapper, reset after each member, as the
// command line's decoder uses it.
inline Outcome zlibOutcome(const std::string& in, const std::vector<size_t>& sizes) {
  z_stream z{};
  inflateInit2(&z, 16 + MAX_WBITS);
  Outcome o = stepThrough(in, sizes,
                          [&z](const unsigned char* i, size_t il, unsigned char* out, size_t ol,
                               size_t& iu, size_t& ou) {
                            z.next_in = const_cast<unsigned char*>(i);
                            z.avail_in = static_cast<uInt>(il);
                            z.next_out = out;
                            z.avail_out = static_cast<uInt>(ol);
                            int rc = inflate(&z, Z_NO_FLUSH);
                            iu = il - z.avail_in;
                            ou = ol - z.avail_out;
                            if (rc == Z_STREAM_END) {
                              inflateReset(&z);
                              return StepResult::kMemberEnded;
                            }
                            return (rc == Z_OK || rc == Z_BUF_ERROR) ? StepResult::kGoing
                                                                     : StepResult::kFailed;
                          });
  inflateEnd(&z);
  return o;
}

inline Outcome inflaterOutcome(const std::string& in, const std::vector<size_t>& sizes) {
  GzipInflater g;
  return stepThrough(in, sizes,
                     [&g](const unsigned char* i, size_t il, unsigned char* out, size_t ol,
                          size_t& iu, size_t& ou) {
                       switch (g.step(i, il, out, ol, iu, ou)) {
                         case GzipInflater::Result::kGoing: return StepResult::kGoing;
                         case GzipInflater::Result::kMemberEnded: return StepResult::kMemberEnded;
                         case GzipInflater::Result::kFailed: break;
                       }
                       return StepResult::kFailed;
                     });
}

// All of `data` deflated by `z`, a stream its caller has set up; the
// stream is ended.
inline std::string deflateWhole(z_stream& z, const std::string& data) {
  std::string out(deflateBound(&z, data.size()) + 128, '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(&out[0]);
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// One gzip member of `data` made by zlib at `level` with `strategy`;
// `fields` adds a name, a comment, an extra field and a header check.
inline std::string gzipOf(const std::string& data, int level, int strategy, bool fields) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, 16 + MAX_WBITS, 8, strategy);
  gz_header head{};
  char name[] = "reads.fa";
  char comment[] = "made for a test";
  unsigned char extra[] = {'Q', 'B', 3, 0, 1, 2, 3};
  if (fields) {
    head.name = reinterpret_cast<Bytef*>(name);
    head.comment = reinterpret_cast<Bytef*>(comment);
    head.extra = extra;
    head.extra_len = sizeof extra;
    head.hcrc = 1;
    deflateSetHeader(&z, &head);
  }
  return deflateWhole(z, data);
}

}  // namespace inflatecheck

#endif  // QUENBREL_TESTS_INFLATE_CHECK_H

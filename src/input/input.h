// SPDX-License-Identifier: MIT
// The engine's input: the bytes of a ByteSource, block by block,
// decompressed on the fly when they begin with the magic of a compressed
// format.
//
// The first read looks at the first bytes; plain input then keeps being read
// straight into the block the engine converts, so it never passes through a
// decoder. With two threads, a pipe or terminal is read on a thread of its
// own, and compressed input (but BGZF, which has workers of its own) and a
// plain file (where that may pay) are decoded or read on one if timing says
// that is faster (path_trial.h); else they are read as they come.
#ifndef QUENBREL_INPUT_INPUT_H
#define QUENBREL_INPUT_INPUT_H

#include <cstddef>
#include <memory>
#include <string>

#include "input/path_trial.h"
#include "input/read_ahead.h"
#include "input/source.h"

class Input {
 public:
  // The size of a block, and the room before each for a byte the caller
  // holds back from the block before.
  static constexpr size_t kBlock = size_t{128} * 1024;
  static constexpr size_t kHead = 1;

  // With `threads` two or more, BGZF input is inflated on that many
  // workers, and other compressed input and pipes are read on a thread of
  // their own; compressed and plain files as `path` chooses.
  explicit Input(ByteSource& in, int threads = 1, InputPathChoice path = {});

  // The next block: sets `data` to its first byte and returns its size, 0
  // at the clean end of input, -1 on a read error or damaged compressed
  // data (and on every call after one). The block stays valid until the
  // next call, and data[-1] may be written. The first block holds at least
  // three bytes, unless the input is shorter, so that a byte-order mark
  // split over pipe reads is seen whole.
  long next(unsigned char*& data);

  // Whether the unit (member, frame, stream) of compressed input that the
  // last block belongs to reads to a clean end, as far as kCheckReach
  // decoded bytes beyond that block: bytes decoded from damaged data may
  // be delivered before the damage is found (the check value comes last),
  // and such made-up bytes must not pass for input in the wrong format.
  // Damage spoils the data near it, so an input in the wrong format is not
  // decoded further (it may not end at all). Plain input is not read
  // further.
  bool restReadsClean();
  static constexpr size_t kCheckReach = size_t{4} << 20;

  // Stops the reading thread, if any, and closes the input
  // (ByteSource::close()); nothing is read after.
  void close();

  // The message to report once next() has returned -1: what went wrong
  // when the decoder knows ("built without ..."), else the plain one.
  std::string message() const;

 private:
  long start(unsigned char* buf);
  long read(unsigned char* buf, size_t cap);
  void readAheadAfterStart();
  void startThread();
  long counted(long n);

  ByteSource& in_;
  int threads_;
  bool atStart_ = true;                   // nothing has been read yet
  bool compressed_ = false;               // a decoder reads the stream
  bool onWorkers_ = false;                // BGZF members inflated on workers
  size_t aheadBlock_ = kBlock;            // the blocks a thread reads ahead in
  std::unique_ptr<unsigned char[]> buf_;  // kHead + kBlock
  // The decoder of compressed input, until it is handed to the thread.
  std::unique_ptr<InputSource> decoder_;
  std::unique_ptr<ReadAhead> ahead_;  // set while a thread reads ahead
  const InputPathChoice path_;
  std::unique_ptr<PathTrial> trial_;  // set while the paths are timed
  bool dropping_ = false;             // the thread stopped; its blocks are handed out
  UnitProgress progress_;             // the source's checks after the last block
};

#endif  // QUENBREL_INPUT_INPUT_H

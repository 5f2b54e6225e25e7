// SPDX-License-Identifier: MIT
// The page's deflate, the JavaScript port of zlib that the worker carries,
// and the page's input and output (web_library.js), reached by these
// calls. They work on this module's memory in place, so nothing is copied
// on the way.
//
// Each stream is a handle: a positive number, or 0 when none could be made.
#ifndef QUENBREL_WEB_ZLIB_PORT_H
#define QUENBREL_WEB_ZLIB_PORT_H

#include <cstddef>
#include <cstdint>

extern "C" {

// A raw deflater at `level` (0 to 9), or 0.
int quenbrelDeflateOpen(int level);
// Deflates `n` bytes at `in`, as one stream from a fresh state, into at
// most `cap` bytes at `out`: their size, or 0 when they did not fit.
uint32_t quenbrelDeflateMember(int handle, const unsigned char* in, uint32_t n, unsigned char* out,
                               uint32_t cap);
void quenbrelDeflateClose(int handle);

// Hands `n` bytes of output at `p` to the page; 0 when they cannot be
// taken.
int quenbrelWebWrite(const unsigned char* p, uint32_t n);

// Reads up to `cap` bytes of the page's input into `p`: their number, 0 at
// the end of the input, -1 when the browser failed to read it. The run
// waits here while the browser reads (the call returns to the worker's
// event loop meanwhile).
int quenbrelWebRead(unsigned char* p, uint32_t cap);
}

#endif  // QUENBREL_WEB_ZLIB_PORT_H

// SPDX-License-Identifier: MIT
// The calls of zlib_port.h, for Emscripten's --js-library. The worker
// defines, before this module is made:
//   globalThis.quenbrelZlib   the JavaScript port of zlib's deflate (its
//                             low-level calls and ZStream)
//   globalThis.quenbrelOutput a function taking each block of output (a
//                             view of this module's memory, valid only
//                             during the call, or until the promise it
//                             answers with settles): true, false when it
//                             cannot, or a promise of either
//   globalThis.quenbrelInput  an async function giving the next bytes of
//                             the input, at most the count it is passed:
//                             an empty view at the end, null on failure
//   globalThis.quenbrelInputNow the same at once, from bytes already read;
//                             null when it has to wait for a read
// Streams work on this module's memory in place: their input and output
// arrays are set to the current view of it on every call, since the memory
// may grow between calls.
mergeInto(LibraryManager.library, {
  $quenbrelStreams: {next: 1, open: {}},

  quenbrelDeflateOpen__deps: ['$quenbrelStreams'],
  quenbrelDeflateOpen: function(level) {
    var z = globalThis.quenbrelZlib, c = z.constants;
    var strm = new z.ZStream();
    // Raw deflate, as bgzf_zlib.cpp asks zlib for it.
    if (z.deflate.deflateInit2(strm, level, c.Z_DEFLATED, -15, 8, c.Z_DEFAULT_STRATEGY) !==
        c.Z_OK) {
      return 0;
    }
    var handle = quenbrelStreams.next++;
    quenbrelStreams.open[handle] = strm;
    return handle;
  },

  quenbrelDeflateMember__deps: ['$quenbrelStreams'],
  quenbrelDeflateMember: function(handle, inPtr, n, outPtr, cap) {
    var z = globalThis.quenbrelZlib, c = z.constants;
    var strm = quenbrelStreams.open[handle];
    if (z.deflate.deflateReset(strm) !== c.Z_OK) return 0;
    strm.input = HEAPU8;
    strm.next_in = inPtr;
    strm.avail_in = n >>> 0;
    strm.output = HEAPU8;
    strm.next_out = outPtr;
    strm.avail_out = cap >>> 0;
    var rc = z.deflate.deflate(strm, c.Z_FINISH);
    var size = strm.next_out - outPtr;
    strm.input = null;
    strm.output = null;
    return rc === c.Z_STREAM_END ? size : 0;
  },

  quenbrelDeflateClose__deps: ['$quenbrelStreams'],
  quenbrelDeflateClose: function(handle) {
    var strm = quenbrelStreams.open[handle];
    if (strm) globalThis.quenbrelZlib.deflate.deflateEnd(strm);
    delete quenbrelStreams.open[handle];
  },

  // Asynchronous: the run is unwound while the worker awaits the next
  // bytes of the file (Emscripten's Asyncify), then rewound to go on.
  quenbrelWebRead__deps: ['$Asyncify'],
  quenbrelWebRead__sig: 'iii',
  quenbrelWebRead: function(ptr, cap) {
    // Bytes the worker holds already are handed over at once: the run is
    // unwound only to wait for the browser's next read. Called again when
    // the run is rewound after a wait, the answer waits in Asyncify.
    if (Asyncify.state === Asyncify.State.Normal) {
      var now = globalThis.quenbrelInputNow(cap >>> 0);
      if (now !== null) {
        HEAPU8.set(now, ptr);
        return now.length;
      }
    }
    return Asyncify.handleAsync(async function() {
      // A failure here would leave the run waiting for good: it is the
      // read's failure instead.
      try {
        var view = await globalThis.quenbrelInput(cap >>> 0);
        if (view === null) return -1;
        // HEAPU8 is taken after the wait: it is the memory's current view.
        HEAPU8.set(view, ptr);
        return view.length;
      } catch (e) {
        return -1;
      }
    });
  },

  // Asynchronous when the output's sink answers with a promise (a part is
  // being written to a file): the run then waits as it does for input.
  quenbrelWebWrite__deps: ['$Asyncify'],
  quenbrelWebWrite__sig: 'iii',
  quenbrelWebWrite: function(ptr, n) {
    // Called again when the run is rewound after the wait: the block was
    // taken before, and the answer waits in Asyncify.
    if (Asyncify.state !== Asyncify.State.Normal) {
      return Asyncify.handleSleep(function() {});
    }
    var taken = globalThis.quenbrelOutput(HEAPU8.subarray(ptr, ptr + (n >>> 0)));
    if (taken === true || taken === false) return taken ? 1 : 0;
    return Asyncify.handleAsync(function() {
      return taken.then(function(ok) { return ok ? 1 : 0; }, function() { return 0; });
    });
  },
});

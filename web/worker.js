// SPDX-License-Identifier: MIT
// The page's worker: converts one file after another with the engine's
// module, off the page's thread. It gets {job, file, outName, lineLen,
// flags} and answers with {job, progress} while it reads, then {job, done,
// status, message, outputs: [{name, blob}]}.
'use strict';

// Output is gathered in blob parts of this size, copied into one buffer:
// once in a Blob, the browser keeps the bytes outside this worker's memory
// (on disk when they are many), so the worker holds one part at most.
// Making a Blob costs a round trip to the browser whatever its size: 200 MB
// took 1.4 s in parts of 8 MiB and under 1 s in parts of 32 MiB.
const kPartBytes = 32 << 20;
// Progress is reported at most this often (milliseconds).
const kProgressEvery = 100;

let module = null;

// The sink of quenbrelWebWrite (web_library.js): the blocks copied into
// the part being filled, a Blob made of each full part.
class BlobParts {
  constructor() {
    this.blobs = [];
    this.part = new Uint8Array(kPartBytes);
    this.used = 0;
  }
  take(view) {
    let at = 0;
    while (at < view.length) {
      const n = Math.min(view.length - at, kPartBytes - this.used);
      this.part.set(view.subarray(at, at + n), this.used);
      this.used += n;
      at += n;
      if (this.used === kPartBytes) this.seal();
    }
    return true;
  }
  seal() {
    if (this.used > 0) this.blobs.push(new Blob([this.part.subarray(0, this.used)]));
    this.used = 0;
  }
  blob() {
    this.seal();
    return new Blob(this.blobs, {type: 'application/octet-stream'});
  }
}

// The engine's input: the file read with the stream's own reader into one
// buffer reused for every read (a fresh buffer per read costs the browser
// far more than the read), handed out as the engine asks. Counts the bytes
// read, for the progress bar.
const kReadBytes = 1 << 20;

class FileInput {
  constructor(job, file) {
    this.job = job;
    this.reader = file.stream().getReader({mode: 'byob'});
    this.buffer = new ArrayBuffer(kReadBytes);
    this.left = new Uint8Array(0);  // read and not yet handed out
    this.ended = false;
    this.read = 0;
    this.lastReport = 0;
  }
  // At most `cap` bytes: an empty view at the end, null when the browser
  // failed to read the file (it changed, or went away).
  async take(cap) {
    if (this.ended) return new Uint8Array(0);
    if (this.left.length === 0) {
      let result;
      try {
        // The buffer is handed to the reader and comes back with the bytes.
        result = await this.reader.read(new Uint8Array(this.buffer));
      } catch (e) {
        return null;
      }
      if (result.done) {
        this.ended = true;
        return new Uint8Array(0);
      }
      this.left = result.value;
      this.buffer = result.value.buffer;
      this.progress(result.value.length);
    }
    const n = Math.min(cap, this.left.length);
    const view = this.left.subarray(0, n);
    this.left = this.left.subarray(n);
    return view;
  }
  progress(n) {
    this.read += n;
    const now = Date.now();
    if (now - this.lastReport >= kProgressEvery) {
      this.lastReport = now;
      postMessage({job: this.job, progress: this.read});
    }
  }
  cancel() {
    this.reader.cancel().catch(() => {});
  }
}

async function engine() {
  if (module === null) {
    module = await createQuenbrel();
    module.FS.mkdir('/out');
  }
  return module;
}

// Takes a file the run left in the module's memory, as a Blob.
function takeFile(FS, name) {
  const bytes = FS.readFile(name);
  FS.unlink(name);
  return new Blob([bytes], {type: 'application/octet-stream'});
}

async function convert(Module, request) {
  const FS = Module.FS;
  const parts = new BlobParts();
  const input = new FileInput(request.job, request.file);
  globalThis.quenbrelOutput = (view) => parts.take(view);
  globalThis.quenbrelInput = (cap) => input.take(cap);
  const outPath = '/out/' + request.outName;
  let status;
  try {
    status = await Module.ccall('quenbrelWebConvert', 'number', ['string', 'number', 'number'],
        [outPath, request.lineLen, request.flags], {async: true});
  } finally {
    input.cancel();
    globalThis.quenbrelOutput = null;
    globalThis.quenbrelInput = null;
  }
  const message = Module.UTF8ToString(Module._quenbrelWebMessage());
  const outputs = [{name: request.outName, blob: parts.blob()}];
  // The index files are there exactly when the run succeeded.
  for (const suffix of ['.fai', '.gzi']) {
    if (FS.analyzePath(outPath + suffix).exists) {
      outputs.push({name: request.outName + suffix, blob: takeFile(FS, outPath + suffix)});
    }
  }
  return {job: request.job, done: true, status, message, outputs};
}

onmessage = async (event) => {
  const request = event.data;
  let answer;
  try {
    answer = await convert(await engine(), request);
  } catch (e) {
    // Not an answer of the engine's: the module itself failed.
    answer = {job: request.job, done: true, status: -1, message: String(e), outputs: []};
    module = null;
  }
  postMessage(answer);
};

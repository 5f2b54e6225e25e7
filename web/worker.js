// SPDX-License-Identifier: MIT
// The page's worker: converts one file after another with the engine's
// module, off the page's thread. It gets {job, file, outName, lineLen,
// flags} and answers with {job, progress} while it reads, then {job, done,
// status, message, outputs: [{name, blob}]}.
'use strict';

// Output is gathered in blob parts of this size, copied into one buffer:
// once in a Blob, the browser keeps the bytes outside this worker's memory
// (on disk when they are many), so the worker holds one part at most. Few
// large parts cost far less than a Blob per block.
const kPartBytes = 8 << 20;
// Progress is reported at most this often (milliseconds).
const kProgressEvery = 100;

let module = null;
let reading = null;  // the job being read: {job, read, lastReport}
let dropSlice = null;  // lets go of the slice of the file read last

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

// Reads the mounted file for the engine in slices of kSliceBytes: each
// synchronous read of a slice costs a round trip to the browser, which at
// the engine's 128 KiB blocks took most of a run's time. Counts the bytes
// read, for the progress bar.
const kSliceBytes = 32 << 20;

function readInSlices(Module) {
  const ops = Module.WORKERFS.stream_ops;
  let slice = {blob: null, at: 0, bytes: new Uint8Array(0)};
  ops.read = function (stream, buffer, offset, length, position) {
    const blob = stream.node.contents;
    if (position >= blob.size) return 0;
    const inSlice = slice.blob === blob && position >= slice.at &&
        position < slice.at + slice.bytes.length;
    if (!inSlice) {
      const end = Math.min(blob.size, position + Math.max(length, kSliceBytes));
      slice = {blob, at: position,
        bytes: new Uint8Array(Module.WORKERFS.reader.readAsArrayBuffer(blob.slice(position, end)))};
    }
    const from = position - slice.at;
    const n = Math.min(length, slice.bytes.length - from);
    buffer.set(slice.bytes.subarray(from, from + n), offset);
    if (reading !== null) {
      reading.read = Math.max(reading.read, position + n);
      const now = Date.now();
      if (now - reading.lastReport >= kProgressEvery) {
        reading.lastReport = now;
        postMessage({job: reading.job, progress: reading.read});
      }
    }
    return n;
  };
  // A file's slice is let go with its run.
  return () => { slice = {blob: null, at: 0, bytes: new Uint8Array(0)}; };
}

async function engine() {
  if (module === null) {
    module = await createQuenbrel();
    dropSlice = readInSlices(module);
    module.FS.mkdir('/in');
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

function convert(Module, request) {
  const FS = Module.FS;
  const mount = '/in/' + request.job;
  FS.mkdir(mount);
  FS.mount(Module.WORKERFS, {files: [request.file]}, mount);
  const parts = new BlobParts();
  globalThis.quenbrelOutput = (view) => parts.take(view);
  reading = {job: request.job, read: 0, lastReport: 0};
  const outPath = '/out/' + request.outName;
  let status;
  try {
    status = Module.ccall('quenbrelWebConvert', 'number',
        ['string', 'string', 'number', 'number'],
        [mount + '/' + request.file.name, outPath, request.lineLen, request.flags]);
  } finally {
    reading = null;
    dropSlice();
    globalThis.quenbrelOutput = null;
    FS.unmount(mount);
    FS.rmdir(mount);
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
    answer = convert(await engine(), request);
  } catch (e) {
    // Not an answer of the engine's: the module itself failed.
    answer = {job: request.job, done: true, status: -1, message: String(e), outputs: []};
    module = null;
  }
  postMessage(answer);
};

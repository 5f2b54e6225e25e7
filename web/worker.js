// SPDX-License-Identifier: MIT
// The page's worker: converts one file after another with the engine's
// module, off the page's thread. It gets {job, file, outName, lineLen,
// flags} and answers with {job, progress} while it reads, then {job, done,
// status, message, outputs: [{name, blob}]}.
'use strict';

// Output is gathered in blob parts of this size: once in a Blob, the
// browser keeps the bytes outside this worker's memory (on disk when they
// are many), so the worker holds at most one part of copies.
const kPartBytes = 8 << 20;
// Progress is reported at most this often (milliseconds).
const kProgressEvery = 100;

let module = null;
let reading = null;  // the job being read: {job, read, lastReport}

// The sink of quenbrelWebWrite (web_library.js): copies of the blocks,
// turned into a Blob per part.
class BlobParts {
  constructor() {
    this.blobs = [];
    this.pending = [];
    this.pendingBytes = 0;
  }
  take(view) {
    this.pending.push(view.slice());
    this.pendingBytes += view.length;
    if (this.pendingBytes >= kPartBytes) this.seal();
    return true;
  }
  seal() {
    if (this.pending.length > 0) this.blobs.push(new Blob(this.pending));
    this.pending = [];
    this.pendingBytes = 0;
  }
  blob() {
    this.seal();
    return new Blob(this.blobs, {type: 'application/octet-stream'});
  }
}

// Counts the bytes the engine reads from the mounted file, for the
// progress bar.
function watchReads(Module) {
  const ops = Module.WORKERFS.stream_ops;
  const read = ops.read;
  ops.read = function (stream, buffer, offset, length, position) {
    const n = read.call(this, stream, buffer, offset, length, position);
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
}

async function engine() {
  if (module === null) {
    module = await createQuenbrel();
    watchReads(module);
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

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

// The sink of a run whose results go into a folder: the blocks gathered in
// a part of this size, written to the file each time it fills while the
// run waits. The browser writes into a file of its own beside the result
// and puts it in place when the file is closed.
const kWriteBytes = 8 << 20;

class FolderFile {
  static async open(folder, name) {
    // As the command line does when it opens its output: index files of an
    // earlier output of that name describe bytes that are gone.
    for (const suffix of ['.fai', '.gzi']) {
      await folder.removeEntry(name + suffix).catch(() => {});
    }
    const handle = await folder.getFileHandle(name, {create: true});
    return new FolderFile(await handle.createWritable());
  }
  constructor(writable) {
    this.writable = writable;
    this.part = new Uint8Array(kWriteBytes);
    this.used = 0;
    this.size = 0;
  }
  // true once taken; a promise of it when the part filled and is written.
  take(view) {
    if (this.used + view.length < this.part.length) {
      this.part.set(view, this.used);
      this.used += view.length;
      return true;
    }
    return this.takeWriting(view);
  }
  // The view is copied first: while the run waits, the module's memory may
  // grow (Asyncify keeps the run's stack in it), which ends every view.
  async takeWriting(moduleView) {
    const view = moduleView.slice();
    let at = 0;
    while (at < view.length) {
      const n = Math.min(view.length - at, this.part.length - this.used);
      this.part.set(view.subarray(at, at + n), this.used);
      this.used += n;
      at += n;
      if (this.used === this.part.length && !(await this.flush())) return false;
    }
    return true;
  }
  async flush() {
    if (this.used === 0) return true;
    try {
      await this.writable.write(this.part.subarray(0, this.used));
    } catch (e) {
      return false;
    }
    this.size += this.used;
    this.used = 0;
    return true;
  }
  // The file as far as it was written, also after a failed run, as the
  // command line leaves its output; false when that failed.
  async close() {
    const flushed = await this.flush();
    try {
      await this.writable.close();
    } catch (e) {
      return false;
    }
    return flushed;
  }
}

// Whether the folder's file `name` is the input itself, picked from this
// folder: same name, size and first bytes. The browser does not say where
// a picked file lies; writing over the input would lose it when the result
// is put in place, so the command line's refusal holds.
async function isTheInput(folder, name, file) {
  if (file.name !== name) return false;
  let there;
  try {
    there = await (await folder.getFileHandle(name)).getFile();
  } catch (e) {
    return false;  // no file of that name
  }
  if (there.size !== file.size) return false;
  const head = (f) => f.slice(0, 1 << 16).arrayBuffer().then((b) => new Uint8Array(b));
  const [a, b] = await Promise.all([head(there), head(file)]);
  return a.every((byte, i) => byte === b[i]);
}

// A small file written whole: false when it could not be.
async function writeToFolder(folder, name, bytes) {
  try {
    const handle = await folder.getFileHandle(name, {create: true});
    const writable = await handle.createWritable();
    await writable.write(bytes);
    await writable.close();
    return true;
  } catch (e) {
    return false;
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

async function convert(Module, request) {
  const FS = Module.FS;
  const folder = request.folder || null;
  if (folder && await isTheInput(folder, request.outName, request.file)) {
    return {job: request.job, done: true, status: 20, outputs: [],
      message: 'Refusing to overwrite the input file ' + request.outName +
          '\nFailed to asign output.\n'};
  }
  const sink = folder ? await FolderFile.open(folder, request.outName) : new BlobParts();
  const input = new FileInput(request.job, request.file);
  globalThis.quenbrelOutput = (view) => sink.take(view);
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
  let message = Module.UTF8ToString(Module._quenbrelWebMessage());
  const outputs = [];
  if (folder) {
    const closed = await sink.close();
    if (!closed && (status === 0 || status === 4)) {
      status = 20;
      message = 'Failed to write output.\n';
    }
    outputs.push({name: request.outName, size: sink.size});
  } else {
    const blob = sink.blob();
    outputs.push({name: request.outName, size: blob.size, blob});
  }
  // The index files are there exactly when the run succeeded.
  for (const suffix of ['.fai', '.gzi']) {
    const path = outPath + suffix;
    if (!FS.analyzePath(path).exists) continue;
    const bytes = FS.readFile(path);
    FS.unlink(path);
    const name = request.outName + suffix;
    if (folder) {
      // As the command line fails when it cannot put an index in place.
      if (!(await writeToFolder(folder, name, bytes))) {
        status = 20;
        message = 'Failed to write the index ' + name + '\n';
        continue;
      }
      outputs.push({name, size: bytes.length});
    } else {
      outputs.push({name, size: bytes.length,
        blob: new Blob([bytes], {type: 'application/octet-stream'})});
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

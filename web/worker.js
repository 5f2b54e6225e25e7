// SPDX-License-Identifier: MIT
// The page's worker: converts one file after another with the engine's
// module, off the page's thread. It gets {job, file, outName, lineLen (the
// field's text), flags, folder, results, forget} and answers with {job,
// progress} while it reads, then {job, done, status, message, changed,
// outputs: [{name, size, blob}]}: `changed` when the browser could not read
// the file any more (it changed, or went away, after it was chosen).
'use strict';

// Output is gathered in blob parts of this size, copied into one buffer:
// once in a Blob, the browser keeps the bytes outside this worker's memory
// (on disk when they are many), so the worker holds one part at most.
// Making a Blob costs a round trip to the browser whatever its size: 200 MB
// took 1.4 s in parts of 8 MiB and under 1 s in parts of 32 MiB.
const kPartBytes = 32 << 20;
// Progress is reported at most this often (milliseconds).
const kProgressEvery = 100;

// The engine's module, once made (a promise of it).
let module = null;
// Memory kept from one file to the next, so that no file pays for fresh
// memory again: the read buffer, the parts of files being written.
let spareRead = null;
const spareParts = [];

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

// The sink of a run whose results are downloaded, where the page is served
// over http(s): a file of the origin's private folder, written in place
// through a synchronous handle by a worker of its own while the run goes
// on, and handed to the page as a File that the browser reads from disk.
// 200 MB took 0.33 s to write so, against 2.4 s and more for blob parts.
// The output is copied into parts of kWriteBytes, at most kWriteParts of
// them on their way; each comes back to be filled again once written, and
// the run waits when none is free. `results` is the page's own folder in
// the private folder (see page.js).
const kWriteParts = 4;
// The parts files are written in.
const kWriteBytes = 8 << 20;

// The writer: {handle} opens the file (answer {opened}); {part, used}
// writes the part's first `used` bytes next (answer {part, ok}, the part
// handed back); {close} ends the file (answer {closed}).
const kWriterSource = `'use strict';
let access = null;
let at = 0;
onmessage = async (event) => {
  const m = event.data;
  if (m.handle) {
    try {
      access = await m.handle.createSyncAccessHandle();
      access.truncate(0);
      at = 0;
      postMessage({opened: true});
    } catch (e) {
      postMessage({opened: false});
    }
  } else if (m.part) {
    let ok = false;
    try {
      ok = access.write(new Uint8Array(m.part, 0, m.used), {at}) === m.used;
    } catch (e) {
      // no space: the run fails as on a full disk
    }
    at += m.used;
    postMessage({part: m.part, ok}, [m.part]);
  } else if (m.close) {
    let ok = true;
    try {
      access.flush();
      access.close();
    } catch (e) {
      ok = false;
    }
    postMessage({closed: ok});
  }
};`;

// The writer, started with the worker and kept from one file to the next;
// null until then, and again once it failed.
let writer = null;

function startWriter() {
  const url = URL.createObjectURL(new Blob([kWriterSource], {type: 'text/javascript'}));
  writer = new Worker(url);
  URL.revokeObjectURL(url);
}

class PrivateFile {
  static async open(results, name) {
    const handle = await results.getFileHandle(name, {create: true});
    if (writer === null) startWriter();
    const file = new PrivateFile(handle, writer);
    writer.postMessage({handle});
    if (!(await file.answer('opened'))) {
      file.drop();
      throw new Error('no synchronous handle');
    }
    return file;
  }
  constructor(handle, writer) {
    this.handle = handle;
    this.writer = writer;
    this.free = spareParts.splice(0);
    while (this.free.length < kWriteParts) this.free.push(new ArrayBuffer(kWriteBytes));
    this.part = null;
    this.used = 0;
    this.size = 0;
    this.failed = false;  // a part could not be written
    this.waiting = null;  // who waits for the writer's next answer
    writer.onmessage = (event) => this.heard(event.data);
    // A writer that failed answers nothing more: whoever waits is let go.
    writer.onerror = () => this.heard({opened: false, closed: false, lost: true});
  }
  // A writer that failed is not used again: the next file starts another.
  drop() {
    this.writer.terminate();
    if (writer === this.writer) writer = null;
  }
  heard(m) {
    if (m.part) this.free.push(m.part);
    if (m.ok === false || m.lost) this.failed = true;
    const waiting = this.waiting;
    this.waiting = null;
    if (waiting) waiting(m);
  }
  nextAnswer() {
    return new Promise((resolve) => { this.waiting = resolve; });
  }
  async answer(key) {
    for (;;) {
      const m = await this.nextAnswer();
      if (m[key] !== undefined) return m[key];
    }
  }
  // true once copied; a promise of it when the run must wait for a part;
  // false once a part could not be written.
  take(view) {
    if (this.failed) return false;
    let at = 0;
    while (at < view.length) {
      if (this.part === null) {
        // The rest is copied first: while the run waits, the module's
        // memory may grow, which ends every view of it.
        if (this.free.length === 0) return this.takeWaiting(view.slice(at));
        this.part = new Uint8Array(this.free.pop());
        this.used = 0;
      }
      const n = Math.min(view.length - at, this.part.length - this.used);
      this.part.set(view.subarray(at, at + n), this.used);
      this.used += n;
      at += n;
      if (this.used === this.part.length) this.send();
    }
    return true;
  }
  async takeWaiting(rest) {
    while (this.free.length === 0 && !this.failed) await this.nextAnswer();
    return this.take(rest);
  }
  send() {
    this.writer.postMessage({part: this.part.buffer, used: this.used}, [this.part.buffer]);
    this.size += this.used;
    this.part = null;
    this.used = 0;
  }
  // The file as written, for the page to offer; null when any of it could
  // not be written. Every part is back before the writer answers the close.
  async file() {
    if (this.part !== null && this.used > 0) this.send();
    this.writer.postMessage({close: true});
    const closed = await this.answer('closed');
    spareParts.push(...this.free);
    if (!closed || this.failed) {
      this.drop();
      return null;
    }
    try {
      return await this.handle.getFile();
    } catch (e) {
      return null;
    }
  }
}

// Where the pages keep their results in the origin's private folder, each
// page in a folder of its own (page.js).
const kResultsFolder = 'quenbrel-results';

// The origin's private folder where this worker may write into it through
// synchronous handles (a secure context: http(s) or 127.0.0.1); null where
// it may not, as in a page opened from disk, which has none.
const privateFolder = (async () => {
  if (!self.isSecureContext || !navigator.storage || !navigator.storage.getDirectory ||
      typeof FileSystemFileHandle === 'undefined' ||
      !FileSystemFileHandle.prototype.createSyncAccessHandle) {
    return null;
  }
  return navigator.storage.getDirectory().catch(() => null);
})();

// The page's folder of results in the private folder; null where there is
// none to write into.
async function resultsFolder(name) {
  const root = name ? await privateFolder : null;
  if (root === null) return null;
  try {
    const all = await root.getDirectoryHandle(kResultsFolder, {create: true});
    return await all.getDirectoryHandle(name, {create: true});
  } catch (e) {
    return null;
  }
}

// Removes the results of the page's earlier run: the page let go of them.
async function forget(results) {
  const names = [];
  for await (const name of results.keys()) names.push(name);
  for (const name of names) await results.removeEntry(name).catch(() => {});
}

// The sink of a run whose results go into a folder: the blocks gathered in
// a part of kWriteBytes, written to the file each time it fills while the
// run waits. The browser writes into a file of its own beside the result
// and puts it in place when the file is closed.

class FolderFile {
  static async open(folder, name) {
    const handle = await folder.getFileHandle(name, {create: true});
    return new FolderFile(folder, name, await handle.createWritable());
  }
  constructor(folder, name, writable) {
    this.folder = folder;
    this.name = name;
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
  // command line leaves its output; false when that failed. An output the
  // run never began (its input was in neither format) leaves an earlier
  // file of the name, and its index files, as they were.
  async close(begun) {
    if (!begun) {
      await this.writable.abort().catch(() => {});
      return true;
    }
    const flushed = await this.flush();
    try {
      await this.writable.close();
    } catch (e) {
      return false;
    }
    // As the command line does when it begins its output: index files of
    // an earlier output of that name describe bytes that are gone.
    for (const suffix of ['.fai', '.gzi']) {
      await this.folder.removeEntry(this.name + suffix).catch(() => {});
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
// far more than the read), handed out as the engine asks. Reads of 32 MiB
// took 0.33 s for 200 MB against 0.72 s in reads of 1 MiB. Counts the bytes
// handed out, for the progress bar.
const kReadBytes = 32 << 20;

class FileInput {
  constructor(job, file) {
    this.job = job;
    this.reader = file.stream().getReader({mode: 'byob'});
    this.buffer = spareRead || new ArrayBuffer(kReadBytes);
    spareRead = null;
    this.left = new Uint8Array(0);  // read and not yet handed out
    this.ended = false;
    this.failed = false;  // the browser could not read the file
    this.handed = 0;
    this.lastReport = 0;
  }
  // At most `cap` bytes of what was read: an empty view at the end, null
  // when there is none (a read is needed, or the read failed).
  takeNow(cap) {
    if (this.ended) return new Uint8Array(0);
    if (this.left.length === 0) return null;
    const n = Math.min(cap, this.left.length);
    const view = this.left.subarray(0, n);
    this.left = this.left.subarray(n);
    this.progress(n);
    return view;
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
        this.failed = true;
        return null;
      }
      if (result.done) {
        this.ended = true;
        // The buffer comes back empty with the end, for the next file.
        if (result.value && result.value.buffer.byteLength === kReadBytes) {
          spareRead = result.value.buffer;
        }
        return new Uint8Array(0);
      }
      this.left = result.value;
      this.buffer = result.value.buffer;
    }
    const n = Math.min(cap, this.left.length);
    const view = this.left.subarray(0, n);
    this.left = this.left.subarray(n);
    this.progress(n);
    return view;
  }
  progress(n) {
    this.handed += n;
    const now = Date.now();
    if (now - this.lastReport >= kProgressEvery) {
      this.lastReport = now;
      postMessage({job: this.job, progress: this.handed});
    }
  }
  cancel() {
    this.reader.cancel().catch(() => {});
  }
}

function engine() {
  if (module === null) {
    module = createQuenbrel().then((made) => {
      made.FS.mkdir('/out');
      return made;
    });
  }
  return module;
}

// The module is made as soon as the worker starts, while the user still
// chooses files: the first file does not wait for it, nor for its writer
// where it has one, nor for fresh memory, which is what the browser pays
// most for (the buffers are touched here once).
async function warmUp() {
  spareRead = new ArrayBuffer(kReadBytes);
  new Uint8Array(spareRead).fill(0);
  if ((await privateFolder) !== null) {
    for (let i = 0; i < kWriteParts; i++) {
      const part = new ArrayBuffer(kWriteBytes);
      new Uint8Array(part).fill(0);
      spareParts.push(part);
    }
    startWriter();
  }
}
warmUp();
engine().then(() => postMessage({ready: true}), () => {
  module = null;
  postMessage({ready: false});
});

// The sink of the run's output: into the chosen folder, into the page's
// private folder where it has one, else blob parts.
async function outputSink(request, results) {
  if (request.folder) return FolderFile.open(request.folder, request.outName);
  if (results) {
    try {
      return await PrivateFile.open(results, request.job + '-' + request.outName);
    } catch (e) {
      // No handle to be had (no space, say): blob parts do without.
    }
  }
  return new BlobParts();
}

async function convert(Module, request) {
  const FS = Module.FS;
  const folder = request.folder || null;
  const refused = (status, message) => ({job: request.job, done: true, status, message,
    changed: false, outputs: []});
  // The settings are read, and refused, as the command line reads them,
  // before anything is written.
  const lineLen = Module.ccall('quenbrelWebLineLen', 'number', ['string'], [request.lineLen]);
  if (lineLen < 0) return refused(10, Module.UTF8ToString(Module._quenbrelWebMessage()));
  if (folder && await isTheInput(folder, request.outName, request.file)) {
    return refused(20, 'Refusing to overwrite the input file ' + request.outName +
        '\nFailed to asign output.\n');
  }
  const results = folder ? null : await resultsFolder(request.results);
  if (results && request.forget) await forget(results);
  const sink = await outputSink(request, results);
  const input = new FileInput(request.job, request.file);
  globalThis.quenbrelOutput = (view) => sink.take(view);
  globalThis.quenbrelInput = (cap) => input.take(cap);
  globalThis.quenbrelInputNow = (cap) => (input.failed ? null : input.takeNow(cap));
  const outPath = '/out/' + request.outName;
  let status;
  try {
    status = await Module.ccall('quenbrelWebConvert', 'number', ['string', 'number', 'number'],
        [outPath, lineLen, request.flags], {async: true});
  } finally {
    input.cancel();
    globalThis.quenbrelOutput = null;
    globalThis.quenbrelInput = null;
    globalThis.quenbrelInputNow = null;
  }
  let message = Module.UTF8ToString(Module._quenbrelWebMessage());
  const begun = Module._quenbrelWebOutputBegun() !== 0;
  const outputs = [];
  // Whether the output is in place as the run made it.
  let written = true;
  if (folder) {
    written = await sink.close(begun);
    outputs.push({name: request.outName, size: sink.size});
  } else if (sink instanceof PrivateFile) {
    const file = await sink.file();
    written = file !== null;
    if (written) outputs.push({name: request.outName, size: file.size, blob: file});
  } else {
    const blob = sink.blob();
    outputs.push({name: request.outName, size: blob.size, blob});
  }
  if (!written && (status === 0 || status === 4)) {
    status = 20;
    message = 'Failed to write output.\n';
  }
  // The index files are there exactly when the run succeeded: not when its
  // output could not be put in place after all.
  for (const suffix of ['.fai', '.gzi']) {
    const path = outPath + suffix;
    if (!FS.analyzePath(path).exists) continue;
    const bytes = FS.readFile(path);
    FS.unlink(path);
    if (!written) continue;
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
  return {job: request.job, done: true, status, message, changed: input.failed, outputs};
}

onmessage = async (event) => {
  const request = event.data;
  let answer;
  try {
    answer = await convert(await engine(), request);
  } catch (e) {
    // Not an answer of the engine's: the module itself failed.
    answer = {job: request.job, done: true, status: -1, message: String(e), changed: false,
      outputs: []};
    module = null;
  }
  postMessage(answer);
};

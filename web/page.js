// SPDX-License-Identifier: MIT
// The page: takes the files and settings, runs them one after another
// through the worker, and shows each file's progress, status, message and
// downloads.
'use strict';

// The bits of quenbrelWebConvert's flags (src/web/web_convert.cpp).
const kFlags = {oneLine: 1, upperCase: 2, dropN: 4, bgzf: 8, index: 16};

// What each exit status of the command line means, in a word for the page;
// the command line's own message is shown beside it as it is.
const kVerdicts = {
  0: 'Converted',
  3: 'Not converted: not in IG or FASTA format (status 3)',
  4: 'Nothing converted: the file holds no sequence (status 4)',
  10: 'Failed: the input could not be read (status 10)',
  20: 'Failed: the output could not be written (status 20)',
};
// The verdict of a file the browser could not read to its end.
const kChanged = 'Failed: the file changed or was removed after it was chosen (status 10)';

// Compression suffixes taken off an input's name before its own extension.
const kCompressed = /\.(gz|bgz|zst|xz|bz2)$/i;

// The output's name, as one would name it on the command line: the input's
// name without its compression suffix and its extension, then .fa or .fa.gz.
function outputName(inputName, bgzf) {
  let stem = inputName.replace(kCompressed, '');
  const dot = stem.lastIndexOf('.');
  if (dot > 0) stem = stem.slice(0, dot);
  return stem + (bgzf ? '.fa.gz' : '.fa');
}

// A size as people read it: bytes, KB or MB (of 1000).
function size(n) {
  if (n < 1000) return n + (n === 1 ? ' byte' : ' bytes');
  if (n < 1e6) return (n / 1e3).toFixed(n < 1e4 ? 1 : 0) + ' KB';
  return (n / 1e6).toFixed(n < 1e7 ? 2 : 0) + ' MB';
}

// What a finished run offers: the output of a run that converted, or as
// far as a failed run converted; nothing for an empty input (status 4), and
// nothing when a failed run wrote nothing.
function offered(data) {
  if (data.status === 0) return data.outputs;
  if (data.status === 4) return [];
  return data.outputs.filter((out) => out.size > 0);
}

const form = document.getElementById('settings');
const picker = document.getElementById('files');
const drop = document.getElementById('drop');
const convertButton = document.getElementById('convert');
const cancelButton = document.getElementById('cancel');
const stateLine = document.getElementById('state');
const results = document.getElementById('results');
const busy = document.getElementById('busy');

let dropped = null;     // files dropped on the page, until the picker is used
let worker = null;
let queue = [];         // jobs not yet started
let current = null;     // the job the worker has
let nextJob = 1;
let urls = [];          // object URLs of the last run's downloads
let counts = null;      // the last run's files by outcome

// Served over http(s), the worker writes each result into a folder of this
// page's own in the origin's private folder, from where it is downloaded.
// The folder is this page's as long as it holds its lock; folders whose
// page is gone (their lock is free) are removed.
const kResultsFolder = 'quenbrel-results';
const resultsName = window.isSecureContext && navigator.locks && navigator.storage &&
    navigator.storage.getDirectory ? 'page-' + crypto.randomUUID() : null;

// Resolves once the page holds its folder's lock.
function holdResultsFolder() {
  return new Promise((held) => {
    navigator.locks.request(kResultsFolder + '/' + resultsName, () => {
      held();
      return new Promise(() => {});  // for the page's life
    });
  });
}

// Removes the folders of pages that are gone. Each is removed under its
// lock, so two pages never remove one folder at once.
async function sweepResults() {
  let all;
  try {
    all = await (await navigator.storage.getDirectory()).getDirectoryHandle(kResultsFolder);
  } catch (e) {
    return;  // none yet
  }
  const names = [];
  for await (const name of all.keys()) names.push(name);
  // The page's own folder is passed over too: its lock is held (locks are
  // not taken twice).
  for (const name of names) {
    await navigator.locks.request(kResultsFolder + '/' + name, {ifAvailable: true}, async (lock) => {
      if (lock) await all.removeEntry(name, {recursive: true}).catch(() => {});
    });
  }
}
const resultsReady = resultsName ? holdResultsFolder() : Promise.resolve();
const resultsSwept = resultsReady.then(() => resultsName && sweepResults()).catch(() => {});

function startWorker() {
  const source = new Blob([quenbrelWorkerSource], {type: 'text/javascript'});
  const url = URL.createObjectURL(source);
  worker = new Worker(url);
  URL.revokeObjectURL(url);
  worker.onmessage = (event) => answer(event.data);
  document.body.dataset.engine = 'starting';
  worker.onerror = (event) => {
    if (current !== null) finish(current, {status: -1, message: event.message || 'The worker failed.', outputs: []});
  };
}

function settings() {
  let flags = 0;
  if (form.elements['one-line'].checked) flags |= kFlags.oneLine;
  if (form.elements['upper-case'].checked) flags |= kFlags.upperCase;
  if (form.elements['drop-n'].checked) flags |= kFlags.dropN;
  const bgzf = form.elements['format'].value === 'bgzf';
  if (bgzf) flags |= kFlags.bgzf;
  if (form.elements['index'].checked) flags |= kFlags.index;
  // The field's text as the command line would get it after -n; the worker
  // reads it by the command line's rule (empty: no -n).
  return {flags, bgzf, lineLen: form.elements['line-len'].value};
}

function addRow(file, outName) {
  const li = document.createElement('li');
  li.dataset.state = 'waiting';
  const title = document.createElement('div');
  title.textContent = file.name + ' (' + size(file.size) + ') → ' + outName;
  const bar = document.createElement('progress');
  bar.max = Math.max(file.size, 1);
  bar.value = 0;
  bar.setAttribute('aria-label', 'Progress of ' + file.name);
  const verdict = document.createElement('div');
  verdict.className = 'verdict';
  verdict.textContent = 'Waiting';
  li.append(title, bar, verdict);
  results.append(li);
  return {li, bar, verdict};
}

// `folder`: the directory handle the results are written into, or null
// for downloads.
function run(files, folder) {
  for (const u of urls) URL.revokeObjectURL(u);
  urls = [];
  results.textContent = '';
  const s = settings();
  let forget = true;  // the first job lets go of the last run's results
  for (const file of files) {
    const outName = outputName(file.name, s.bgzf);
    queue.push({job: nextJob++, file, outName, lineLen: s.lineLen, flags: s.flags, folder,
      forget, row: addRow(file, outName)});
    forget = false;
  }
  counts = {total: queue.length, converted: 0, empty: 0, failed: 0};
  document.body.dataset.run = 'running';
  convertButton.disabled = true;
  cancelButton.disabled = false;
  // The results are where the progress shows: in view at once.
  results.scrollIntoView({block: 'nearest'});
  next();
}

// What the run came to so far, as "2 converted, 1 failed".
function tally() {
  const parts = [counts.converted + ' converted'];
  if (counts.empty > 0) parts.push(counts.empty + ' empty');
  if (counts.failed > 0) parts.push(counts.failed + ' failed');
  return parts.join(', ');
}

// Beside the buttons: which file is converting, and how far it got.
function showBusy(fraction) {
  const done = counts.converted + counts.empty + counts.failed;
  busy.textContent = 'Converting ' + (done + 1) + ' of ' + counts.total + ': ' +
      current.file.name + ', ' + Math.floor(fraction * 100) + ' %';
}

function next() {
  current = queue.shift() || null;
  if (current === null) {
    document.body.dataset.run = 'done';
    convertButton.disabled = false;
    cancelButton.disabled = true;
    stateLine.textContent = 'Done: ' + tally() + '.';
    busy.textContent = '';
    return;
  }
  if (worker === null) startWorker();
  current.row.li.dataset.state = 'running';
  current.row.verdict.textContent = 'Converting…';
  stateLine.textContent = 'Converting ' + current.file.name + '…' +
      (counts.converted + counts.empty + counts.failed > 0 ? ' (' + tally() + ')' : '');
  showBusy(0);
  const {job, file, outName, lineLen, flags, folder, forget} = current;
  current.started = performance.now();
  const running = worker;  // a cancelled run's worker is gone by then
  resultsReady.then(() => running.postMessage({job, file, outName, lineLen, flags, folder, forget,
    results: resultsName}));
}

function answer(data) {
  if (data.ready !== undefined) {
    document.body.dataset.engine = data.ready ? 'ready' : 'failed';
    return;
  }
  if (current === null || data.job !== current.job) return;
  if (data.progress !== undefined) {
    current.row.bar.value = data.progress;
    showBusy(data.progress / current.row.bar.max);
    return;
  }
  finish(current, data);
}

function finish(job, data) {
  const {li, bar, verdict} = job.row;
  const seconds = (performance.now() - job.started) / 1000;
  li.dataset.seconds = String(seconds);
  bar.value = bar.max;
  li.dataset.state = 'done';
  li.dataset.status = String(data.status);
  const ok = data.status === 0;
  const outcome = ok ? 'converted' : data.status === 4 ? 'empty' : 'failed';
  counts[outcome]++;
  li.dataset.outcome = outcome;
  li.classList.toggle('failed', outcome === 'failed');
  verdict.textContent = data.changed ? kChanged :
      kVerdicts[data.status] || ('Failed (' + data.status + ')');
  if (ok) {
    const speed = document.createElement('div');
    speed.className = 'speed';
    // The rate only where there is one to speak of.
    speed.textContent = size(job.file.size) + ' in ' + seconds.toFixed(1) + ' s' +
        (job.file.size < 1e6 ? '' : ' (' +
            (job.file.size / 1e6 / Math.max(seconds, 1e-3)).toFixed(0) + ' MB/s)');
    li.append(speed);
  }
  if (data.message) {
    const pre = document.createElement('pre');
    pre.className = 'message';
    pre.textContent = data.message;
    li.append(pre);
  }
  const outputs = offered(data);
  if (outputs.length > 0 && job.folder) {
    const saved = document.createElement('div');
    saved.className = 'saved';
    saved.textContent = 'Written into ' + job.folder.name + ': ' + outputs.map(
        (out) => out.name + ' (' + size(out.size) + ')').join(', ') +
        (ok ? '' : ', as far as converted');
    li.append(saved);
  } else if (outputs.length > 0) {
    const links = document.createElement('div');
    links.className = 'downloads';
    for (const out of outputs) {
      const a = document.createElement('a');
      const url = URL.createObjectURL(out.blob);
      urls.push(url);
      a.href = url;
      a.download = out.name;
      a.textContent = 'Download ' + out.name + ' (' + size(out.blob.size) + ')';
      // What a failed run left is the command line's output as far as it
      // got: offered, and said so.
      if (!ok) a.textContent += ', as far as converted';
      links.append(a);
    }
    li.append(links);
  }
  next();
}

function cancel() {
  if (worker !== null) worker.terminate();
  worker = null;
  for (const job of [current, ...queue]) {
    if (job === null) continue;
    job.row.li.dataset.state = 'cancelled';
    job.row.verdict.textContent = 'Cancelled';
  }
  current = null;
  queue = [];
  document.body.dataset.run = 'cancelled';
  convertButton.disabled = false;
  cancelButton.disabled = true;
  stateLine.textContent = 'Cancelled: ' + tally() + '.';
  busy.textContent = '';
  startWorker();
}

// Where the browser lets a page write into a folder the user chooses, the
// results may go there as they are made instead of into downloads.
const folderChoice = document.getElementById('to-folder-choice');
if (typeof window.showDirectoryPicker === 'function') folderChoice.hidden = false;

form.addEventListener('submit', async (event) => {
  event.preventDefault();
  const files = dropped || picker.files;
  if (!files || files.length === 0) {
    stateLine.textContent = 'Choose or drop one or more files first.';
    return;
  }
  const chosen = Array.from(files);
  let folder = null;
  if (!folderChoice.hidden && form.elements['to-folder'].checked) {
    try {
      folder = await window.showDirectoryPicker({mode: 'readwrite'});
    } catch (e) {
      stateLine.textContent = 'No folder chosen: nothing converted.';
      return;
    }
  }
  run(chosen, folder);
});
cancelButton.addEventListener('click', cancel);
picker.addEventListener('change', () => { dropped = null; });
drop.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  dropped = Array.from(event.dataTransfer.files);
  drop.textContent = dropped.length + ' file(s) dropped: ' + dropped.map((f) => f.name).join(', ');
});

// The engine is made while the user chooses files.
startWorker();

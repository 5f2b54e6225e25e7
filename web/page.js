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
  4: 'No sequence content (status 4)',
  10: 'Failed: the input could not be read (status 10)',
  20: 'Failed: the output could not be written (status 20)',
};

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

function megabytes(n) {
  return (n / 1e6).toFixed(n < 1e7 ? 2 : 0) + ' MB';
}

const form = document.getElementById('settings');
const picker = document.getElementById('files');
const drop = document.getElementById('drop');
const convertButton = document.getElementById('convert');
const cancelButton = document.getElementById('cancel');
const stateLine = document.getElementById('state');
const results = document.getElementById('results');

let dropped = null;     // files dropped on the page, until the picker is used
let worker = null;
let queue = [];         // jobs not yet started
let current = null;     // the job the worker has
let nextJob = 1;
let urls = [];          // object URLs of the last run's downloads

function startWorker() {
  const source = new Blob([quenbrelWorkerSource], {type: 'text/javascript'});
  const url = URL.createObjectURL(source);
  worker = new Worker(url);
  URL.revokeObjectURL(url);
  worker.onmessage = (event) => answer(event.data);
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
  // As -n reads it: a number; 4 or less means 70.
  const lineLen = parseInt(form.elements['line-len'].value, 10);
  return {flags, bgzf, lineLen: Number.isFinite(lineLen) ? lineLen : 70};
}

function addRow(file, outName) {
  const li = document.createElement('li');
  li.dataset.state = 'waiting';
  const title = document.createElement('div');
  title.textContent = file.name + ' (' + megabytes(file.size) + ') → ' + outName;
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
  for (const file of files) {
    const outName = outputName(file.name, s.bgzf);
    queue.push({job: nextJob++, file, outName, lineLen: s.lineLen, flags: s.flags, folder,
      row: addRow(file, outName)});
  }
  document.body.dataset.run = 'running';
  convertButton.disabled = true;
  cancelButton.disabled = false;
  next();
}

function next() {
  current = queue.shift() || null;
  if (current === null) {
    document.body.dataset.run = 'done';
    convertButton.disabled = false;
    cancelButton.disabled = true;
    stateLine.textContent = 'Done.';
    return;
  }
  if (worker === null) startWorker();
  current.row.li.dataset.state = 'running';
  current.row.verdict.textContent = 'Converting…';
  stateLine.textContent = 'Converting ' + current.file.name + '…';
  const {job, file, outName, lineLen, flags, folder} = current;
  current.started = performance.now();
  worker.postMessage({job, file, outName, lineLen, flags, folder});
}

function answer(data) {
  if (current === null || data.job !== current.job) return;
  if (data.progress !== undefined) {
    current.row.bar.value = data.progress;
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
  const ok = data.status === 0 || data.status === 4;
  li.classList.toggle('failed', !ok);
  verdict.textContent = kVerdicts[data.status] || ('Failed (' + data.status + ')');
  const speed = document.createElement('div');
  speed.textContent = megabytes(job.file.size) + ' in ' + seconds.toFixed(1) + ' s (' +
      (job.file.size / 1e6 / Math.max(seconds, 1e-3)).toFixed(0) + ' MB/s)';
  li.append(speed);
  if (data.message) {
    const pre = document.createElement('pre');
    pre.className = 'message';
    pre.textContent = data.message;
    li.append(pre);
  }
  if (data.outputs.length > 0 && job.folder) {
    const saved = document.createElement('div');
    saved.className = 'saved';
    saved.textContent = 'Written into ' + job.folder.name + ': ' + data.outputs.map(
        (out) => out.name + ' (' + megabytes(out.size) + ')').join(', ') +
        (ok ? '' : ', as far as converted');
    li.append(saved);
  } else if (data.outputs.length > 0) {
    const links = document.createElement('div');
    links.className = 'downloads';
    for (const out of data.outputs) {
      const a = document.createElement('a');
      const url = URL.createObjectURL(out.blob);
      urls.push(url);
      a.href = url;
      a.download = out.name;
      a.textContent = 'Download ' + out.name + ' (' + megabytes(out.blob.size) + ')';
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
  stateLine.textContent = 'Cancelled.';
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

// SPDX-License-Identifier: MIT
// Makes the page's folder: its static files, and worker-source.js, which
// holds the whole worker as one string (the JavaScript port of zlib, the
// engine's module with its WebAssembly inside, worker.js). The page starts
// the worker from that string: a page opened from disk may not start a
// worker from a file, but may from a string of its own.
//
//   node bundle.js --modules DIR --engine FILE --source DIR --out DIR
'use strict';
const fs = require('fs');
const path = require('path');

function args(argv) {
  const got = {};
  for (let i = 2; i + 1 < argv.length; i += 2) got[argv[i].replace(/^--/, '')] = argv[i + 1];
  for (const key of ['modules', 'engine', 'source', 'out']) {
    if (!got[key]) throw new Error('bundle.js: --' + key + ' is missing');
  }
  return got;
}

// The port's modules that the worker uses, each wrapped as the CommonJS
// module it is, with a require() that finds its siblings.
const zlibModules = ['zstream', 'constants', 'messages', 'adler32', 'crc32', 'trees', 'deflate'];

function zlibPort(modules) {
  const dir = path.join(modules, 'pako', 'lib', 'zlib');
  const licence = fs.readFileSync(path.join(modules, 'pako', 'LICENSE'), 'utf8');
  let text = '/* pako (zlib port), its licence:\n' + licence.replace(/\*\//g, '* /') + '*/\n';
  text += '(function () {\nvar factories = {}, cache = {};\n';
  text += 'function require(name) {\n  var key = name.replace(/^\\.\\//, "").replace(/\\.js$/, "");\n' +
      '  if (!cache[key]) {\n    var module = {exports: {}};\n    cache[key] = module;\n' +
      '    factories[key](module, module.exports, require);\n  }\n  return cache[key].exports;\n}\n';
  for (const name of zlibModules) {
    const source = fs.readFileSync(path.join(dir, name + '.js'), 'utf8');
    text += 'factories[' + JSON.stringify(name) + '] = function (module, exports, require) {\n' +
        source + '\n};\n';
  }
  text += 'globalThis.quenbrelZlib = {ZStream: require("zstream"), constants: require("constants"),' +
      ' deflate: require("deflate")};\n})();\n';
  return text;
}

function main() {
  const a = args(process.argv);
  fs.mkdirSync(a.out, {recursive: true});
  const worker = [
    zlibPort(a.modules),
    fs.readFileSync(a.engine, 'utf8'),
    fs.readFileSync(path.join(a.source, 'worker.js'), 'utf8'),
  ].join('\n');
  fs.writeFileSync(path.join(a.out, 'worker-source.js'),
      '// The page\'s worker, made by bundle.js from worker.js, the engine\'s module and pako.\n' +
      'var quenbrelWorkerSource = ' + JSON.stringify(worker) + ';\n');
  for (const name of ['index.html', 'page.css', 'page.js']) {
    fs.copyFileSync(path.join(a.source, name), path.join(a.out, name));
  }
}

main();

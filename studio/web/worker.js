// The studio's worker: loads saverpack's core (WebAssembly) and does every piece of work on an
// installer here, so that the page never waits on it. Messages in and out:
//   {type: "open", id, file: Blob}      -> progress..., {type: "report", id, report, ms}
//   {type: "file", id, source, n}       -> {type: "file", id, bytes, problem}
//   {type: "layout", id}                -> {type: "layout", id, withLicence, withoutLicence}
//   {type: "build", id, files: [{path, key, blob}], project, name, fast, plain}
//                                       -> progress..., {type: "built", id, bytes, problems, warnings, report, ms, checkMs}
//                                          (ms: the files stored and the installer built; checkMs:
//                                          its report made, verify's checks among them); imploded
//                                          by the pool of packers (pool.js), the plain preview here
//   {type: "project", id, name, stem}   -> {type: "project", id, zip, problems}: the opened
//                                          installer's project and its files, zipped
// Any failure comes back as {type: "error", id, message, status}: status, when there is one, is
// the HTTP status with which the server refused one of the page's own files (tools/...).
"use strict";

importScripts("saverpack-core.js", "fflate.js", "pool.js");

const kPiece = 4 * 1024 * 1024;  // the file is copied into the module this much at a time
// A browser without exception handling in its WebAssembly (before Chrome 95, Firefox 100, Safari
// 15.2) cannot compile the module: a module of one try block tells it apart.
const kTryModule = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 4, 1, 96, 0, 0, 3, 2, 1, 0,
                                   10, 8, 1, 6, 0, 6, 64, 25, 11, 11]);

// A module of one SIMD instruction: a browser that validates it runs the module built with SIMD,
// whose encoder compares 16 bytes at a time; another one the plain module. Both take one glue.
const kSimdModule = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0,
                                    10, 8, 1, 6, 0, 65, 0, 253, 15, 11]);
const kModuleFile = WebAssembly.validate(kSimdModule) ? "saverpack-core-simd.wasm" : "saverpack-core.wasm";

// The module's code, compiled once and shared with the packers.
async function compileCore() {
  const response = await fetch(kModuleFile);
  if (!response.ok)
    throw Object.assign(new Error(`${kModuleFile}: the server answered ${response.status}`), { status: response.status });
  const copy = response.clone();  // for a server that sends another type than application/wasm
  try {
    return await WebAssembly.compileStreaming(response).catch(async () => WebAssembly.compile(await copy.arrayBuffer()));
  } catch (error) {
    if (!WebAssembly.validate(kTryModule))
      throw new Error("This browser's WebAssembly has no exception handling, which the studio's module needs: " +
                      "use Chrome or Edge 95, Firefox 100, Safari 15.2 or later.");
    throw error;
  }
}

let core = null, wasm = null;
const ready = compileCore().then((compiled) => { wasm = compiled; return coreFrom(wasm); })
  .then((module) => { core = module; });
// Nested workers are newer than workers: without them, the build packs here, one file after another.
const pooled = typeof Worker === "function";

function post(message, transfer) {
  self.postMessage(message, transfer || []);
}

let openedFile = null;  // the file of the last open, which the module reads from

async function open(id, file) {
  const started = performance.now();
  openedFile = file;
  const size = file.size;
  const address = core.reserve(size);
  if (address === 0 && size > 0) throw new Error(`no memory for a file of ${size} bytes`);
  post({ type: "progress", id, stage: "Checking", done: size, total: size });
  // The module reads what its report needs of the file (the header, the imploded streams, the
  // data file), a range at a time, and the rest when a file is asked for: not the 100 MB of a
  // large installer's plain members, which the report knows the sizes of.
  const reader = new FileReaderSync();
  const read = (offset, length) => {
    try {
      const bytes = new Uint8Array(reader.readAsArrayBuffer(file.slice(offset, offset + length)));
      if (bytes.length !== length) return false;
      core.HEAPU8.set(bytes, address + offset);  // HEAPU8 is read again: memory may have grown
      return true;
    } catch {
      return false;  // the file changed or went away since it was chosen
    }
  };
  const report = JSON.parse(core.analyseReading(read));
  post({ type: "report", id, report, ms: performance.now() - started });
}

// A blob as a file of the module's file system, copied in piece by piece, then stored by store
// (core.storeFile for the author's files, core.storeTool for the programs) under a plain name.
async function storeBlob(store, name, blob) {
  const address = core.reserveFile(blob.size);
  if (address === 0 && blob.size > 0) throw new Error(`no memory for a file of ${blob.size} bytes`);
  for (let done = 0; done < blob.size; done += kPiece) {
    const piece = new Uint8Array(await blob.slice(done, Math.min(blob.size, done + kPiece)).arrayBuffer());
    core.HEAPU8.set(piece, address + done);
  }
  const problem = store(name);
  if (problem) throw new Error(problem);
}

// install.exe, impborl.dll and launcher.exe, from beside the saverpack that serves the page.
let tools = null;
async function fetchTools() {
  for (const name of ["install.exe", "impborl.dll", "launcher.exe"]) {
    const response = await fetch(`tools/${name}`);
    if (!response.ok)
      throw Object.assign(new Error(`tools/${name}: the server answered ${response.status}; the page builds ` +
                                    "installers when saverpack studio serves it, with the install.exe, impborl.dll " +
                                    "and launcher.exe beside saverpack"), { status: response.status });
    await storeBlob(core.storeTool, name, await response.blob());
  }
}

const kProjectFolder = "/project/";  // where the module keeps the author's files
const storedKeys = new Map();  // name -> key of the file stored there, so unchanged files stay

async function build(id, message) {
  const started = performance.now();
  if (!tools) tools = fetchTools().catch((error) => { tools = null; throw error; });
  await tools;
  for (const file of message.files) {
    if (storedKeys.get(file.path) === file.key) continue;
    storedKeys.delete(file.path);
    await storeBlob(core.storeFile, file.path, file.blob);
    storedKeys.set(file.path, file.key);
  }
  await storeBlob(core.storeFile, message.name, new Blob([message.project]));
  const progress = (done, total) => post({ type: "progress", id, stage: message.plain ? "Preview" : "Packing", done, total });
  if (pooled) packersFor(wasm, packerCount(Infinity));  // started with the preview, ready for Build
  const result = pooled && !message.plain ? await buildInPool(core, wasm, message.name, message.fast, progress)
                                          : core.buildProject(message.name, message.fast, message.plain, progress);
  const strip = (line) => line.split(kProjectFolder).join("");
  const built = performance.now();
  const report = result.bytes ? JSON.parse(core.analyse()) : null;  // what the page shows of it
  const bytes = result.bytes;
  post({ type: "built", id, bytes, problems: result.problems.map(strip), warnings: result.warnings.map(strip),
         report, ms: built - started, checkMs: performance.now() - built }, bytes ? [bytes.buffer] : []);
}

function projectOf(id, name, stem) {
  const project = core.projectOfOpened(name);
  if (project.problems.length) return post({ type: "project", id, zip: null, problems: project.problems });
  const entries = { [`${stem}.toml`]: new TextEncoder().encode(project.text) };
  for (const file of project.files) entries[file.path] = file.bytes;
  const zip = fflate.zipSync(entries, { level: 6 });
  post({ type: "project", id, zip, problems: [] }, [zip.buffer]);
}

async function fileOf(id, source, n) {
  // A member stored as it is comes straight from the chosen file, not through the module.
  const place = source === "slot" ? core.plainPlace(n) : null;
  if (place) {
    const bytes = new Uint8Array(await openedFile.slice(place.offset, place.offset + place.size).arrayBuffer());
    if (bytes.length === place.size) return post({ type: "file", id, source, n, bytes, problem: "" }, [bytes.buffer]);
  }
  const result = source === "slot" ? core.slotFile(n) : core.entryFile(n);
  const bytes = result.bytes;
  post({ type: "file", id, source, n, bytes, problem: result.problem }, [bytes.buffer]);
}

// One message at a time, in order: a second file dropped while the first is copied in waits for
// it, so that the module's buffer is never freed under a copy.
let queue = Promise.resolve();
self.onmessage = (event) => {
  queue = queue.then(() => handle(event.data));
};

async function handle(message) {
  try {
    await ready;
    if (message.type === "open") await open(message.id, message.file);
    else if (message.type === "file") await fileOf(message.id, message.source, message.n);
    else if (message.type === "build") await build(message.id, message);
    else if (message.type === "project") projectOf(message.id, message.name, message.stem);
    else if (message.type === "layout")
      post({ type: "layout", id: message.id, withLicence: JSON.parse(core.layout(true)),
             withoutLicence: JSON.parse(core.layout(false)) });
  } catch (error) {
    post({ type: "error", id: message.id, message: String(error && error.message || error), status: error?.status });
  }
}

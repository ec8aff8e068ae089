// The studio's worker: loads saverpack's core (WebAssembly) and does every piece of work on an
// installer here, so that the page never waits on it. Messages in and out:
//   {type: "open", id, file: Blob}      -> progress..., {type: "report", id, report, ms}
//   {type: "file", id, source, n}       -> {type: "file", id, bytes, problem}
//   {type: "layout", id}                -> {type: "layout", id, withLicence, withoutLicence}
//   {type: "build", id, files: [{path, key, blob}], project, name, fast, plain}
//                                       -> progress..., {type: "built", id, bytes, problems, warnings, report, ms, checkMs}
//                                          (ms: the files stored and the installer built; checkMs:
//                                          its report made, verify's checks among them)
//   {type: "project", id, name, stem}   -> {type: "project", id, zip, problems}: the opened
//                                          installer's project and its files, zipped
// Any failure comes back as {type: "error", id, message, status}: status, when there is one, is
// the HTTP status with which the server refused one of the page's own files (tools/...).
"use strict";

importScripts("saverpack-core.js", "fflate.js");

const kPiece = 4 * 1024 * 1024;  // the file is copied into the module this much at a time
let core = null;
const ready = StudioModule().then((module) => { core = module; });

function post(message, transfer) {
  self.postMessage(message, transfer || []);
}

async function open(id, file) {
  const started = performance.now();
  const size = file.size;
  const address = core.reserve(size);
  if (address === 0 && size > 0) throw new Error(`no memory for a file of ${size} bytes`);
  for (let done = 0; done < size; done += kPiece) {
    const piece = new Uint8Array(await file.slice(done, Math.min(size, done + kPiece)).arrayBuffer());
    core.HEAPU8.set(piece, address + done);  // HEAPU8 is read again: memory may have grown
    post({ type: "progress", id, stage: "Reading", done: done + piece.length, total: size });
  }
  post({ type: "progress", id, stage: "Checking", done: size, total: size });
  const report = JSON.parse(core.analyse());
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
  const result = core.buildProject(message.name, message.fast, message.plain, (done, total) =>
    post({ type: "progress", id, stage: message.plain ? "Preview" : "Packing", done, total }));
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

function fileOf(id, source, n) {
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
    else if (message.type === "file") fileOf(message.id, message.source, message.n);
    else if (message.type === "build") await build(message.id, message);
    else if (message.type === "project") projectOf(message.id, message.name, message.stem);
    else if (message.type === "layout")
      post({ type: "layout", id: message.id, withLicence: JSON.parse(core.layout(true)),
             withoutLicence: JSON.parse(core.layout(false)) });
  } catch (error) {
    post({ type: "error", id: message.id, message: String(error && error.message || error), status: error?.status });
  }
}

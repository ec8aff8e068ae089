// The studio's worker: loads saverpack's core (WebAssembly) and does every piece of work on an
// installer here, so that the page never waits on it. Messages in and out:
//   {type: "open", id, file: Blob}      -> progress..., {type: "report", id, report, ms}
//   {type: "file", id, source, n}       -> {type: "file", id, bytes, problem}
//   {type: "layout", id}                -> {type: "layout", id, withLicence, withoutLicence}
// Any failure comes back as {type: "error", id, message}.
"use strict";

importScripts("saverpack-core.js");

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
    else if (message.type === "layout")
      post({ type: "layout", id: message.id, withLicence: JSON.parse(core.layout(true)),
             withoutLicence: JSON.parse(core.layout(false)) });
  } catch (error) {
    post({ type: "error", id: message.id, message: String(error && error.message || error) });
  }
}

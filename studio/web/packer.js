// One packer of the studio's imploding builds (pool.js): a worker of its own with its own instance
// of the module, so that a build's files are imploded on every core. It is given the bytes of one
// stream at a time and their coding, never a path, and it has no file system of the author's.
// Messages in and out:
//   {type: "start", wasm}                            the module's compiled code, once, first
//   {type: "pack", bytes, what, compression, fast}   -> {type: "packed", bytes, compressed, fileSize,
//                                                        packedSize, problem, tool}
// Any failure comes back as {type: "error", message}.
"use strict";

importScripts("saverpack-core.js", "pool.js");

let ready = Promise.reject(new Error("the packer was not started"));
ready.catch(() => {});

// The browser runs new WebAssembly code with a quick first compiler and compiles a function
// again, fully, once it is seen busy, for its next call: the encoder's loop, one call a stream,
// would implode a whole first build at the first compiler's speed (several times slower). A
// small sample of each level, imploded while the author still chooses, makes that first call.
function warmedUp(core) {
  const sample = new Uint8Array(1 << 14);
  for (let i = 0; i < sample.length; i++) sample[i] = i & 1024 ? (i * 2654435761) >>> 24 : 97 + (i % 13);
  for (const fast of [false, true]) {
    copyIn(core, sample);
    core.packReserved("", 0, fast);
  }
  return core;
}

async function pack(message) {
  const core = await ready;
  copyIn(core, message.bytes);
  const packed = core.packReserved(message.what, message.compression, message.fast);
  self.postMessage({ type: "packed", ...packed }, packed.bytes ? [packed.bytes.buffer] : []);
}

self.onmessage = async (event) => {
  const message = event.data;
  if (message.type === "start") {
    ready = coreFrom(message.wasm).then(warmedUp);
    ready.catch(() => {});  // told to the pack that waits for it
    return;
  }
  try {
    await pack(message);
  } catch (error) {
    self.postMessage({ type: "error", message: String(error?.message || error) });
  }
};

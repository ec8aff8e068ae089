// The imploding build's pool of packers (packer.js): as many workers as the machine has cores, at
// most kMostPackers and never more than there are streams, each with its own instance of the
// module made from the code the studio's worker compiled. The studio's worker reads each stream
// out of its module, hands it to a free packer and puts the packed bytes back; the module then
// assembles the installer in the streams' order, so its bytes are those of `saverpack build`
// however the work was shared out. A packer gets a stream's bytes and coding, never a path.
"use strict";

const kMostPackers = 8;

// The module, instantiated from compiled code (a WebAssembly.Module): fetched and compiled once,
// shared by every worker.
function coreFrom(wasm) {
  return new Promise((resolve, reject) => {
    StudioModule({
      instantiateWasm(imports, receive) {
        WebAssembly.instantiate(wasm, imports).then((instance) => receive(instance, wasm), reject);
        return {};
      },
    }).then(resolve, reject);
  });
}

// Bytes into the module's reserved file (reserveFile), for the call that takes them.
function copyIn(core, bytes) {
  const address = core.reserveFile(bytes.length);
  if (address === 0 && bytes.length > 0) throw new Error(`no memory for a file of ${bytes.length} bytes`);
  core.HEAPU8.set(bytes, address);
}

// One packer and the one stream it packs at a time. A packer that failed (its script refused, its
// module aborted) is retired, and the next build starts another.
class Packer {
  constructor(wasm) {
    this.worker = new Worker("packer.js");
    this.worker.postMessage({ type: "start", wasm });
    this.waiter = null;
    this.lost = null;
    this.worker.onmessage = (event) => {
      if (event.data.type === "packed") this.settle(null, event.data);
      else this.retire(new Error(event.data.message));
    };
    this.worker.onerror = (event) => {
      event.preventDefault();
      this.retire(new Error(`a worker of the build failed: ${event.message || "it could not start"}`));
    };
  }

  settle(error, answer) {
    const waiter = this.waiter;
    this.waiter = null;
    if (error) waiter?.reject(error);
    else waiter?.resolve(answer);
  }

  retire(error) {
    this.lost = error;
    this.worker.terminate();
    this.settle(error);
  }

  // {bytes, compressed, fileSize, packedSize, problem, tool}: packReserved's answer.
  pack(job) {
    if (this.lost) return Promise.reject(this.lost);
    return new Promise((resolve, reject) => {
      this.waiter = { resolve, reject };
      this.worker.postMessage({ type: "pack", ...job }, [job.bytes.buffer]);
    });
  }
}

const packers = [];

function packerCount(streams) {
  const cores = Math.floor(self.navigator?.hardwareConcurrency) || 1;
  return Math.max(1, Math.min(kMostPackers, cores, streams));
}

// count packers, started now where there are fewer; they stay for the next build.
function packersFor(wasm, count) {
  for (let i = packers.length - 1; i >= 0; i--) if (packers[i].lost) packers.splice(i, 1);
  while (packers.length < count) packers.push(new Packer(wasm));
  return packers.slice(0, count);
}

const kStoredPlain = 2;  // a stream's compression: never imploded

// The order streams are handed out: the most work first, so that no large stream is started last
// while the other packers wait. An entry's work goes on in the data file made of it, when that is
// imploded too.
function handOutOrder(streams) {
  const dataFile = streams.find((stream) => stream.dataFile);
  const entries = streams.filter((stream) => stream.entry).reduce((sum, stream) => sum + stream.size, 0);
  const after = dataFile && dataFile.compression !== kStoredPlain ? entries : 0;
  const work = (stream) => stream.size + (stream.entry ? after : 0);
  return streams.filter((stream) => !stream.dataFile).sort((a, b) => work(b) - work(a));
}

// The module's startBuild .. finishBuild of the stored project file, its streams packed in the
// pool: buildProject's answer. progress(done, total) as streams finish.
async function buildInPool(core, wasm, name, fast, progress) {
  const plan = core.startBuild(name, fast);
  if (plan.problems.length) return plan;
  const streams = plan.streams.map((stream, index) => ({ ...stream, index }));
  const waiting = handOutOrder(streams);
  const dataFile = streams.find((stream) => stream.dataFile);
  let entriesLeft = streams.filter((stream) => stream.entry).length;
  if (dataFile && entriesLeft === 0) waiting.push(dataFile);
  // The command line reports the first failure in the streams' order: once a stream fails, only
  // those before it are still worth packing.
  let failedAt = Infinity;
  let done = 0;
  const next = () => {
    const at = waiting.findIndex((stream) => stream.index < failedAt);
    return at < 0 ? null : waiting.splice(at, 1)[0];
  };
  const packOn = async (packer) => {
    for (let stream; (stream = next());) {
      const bytes = core.streamBytes(stream.index);
      if (!bytes) {
        failedAt = Math.min(failedAt, stream.index);
        continue;
      }
      const packed = await packer.pack({ bytes, what: stream.what, compression: stream.compression, fast: plan.fast });
      if (packed.problem) {
        core.putProblem(stream.index, packed.problem, packed.tool);
        failedAt = Math.min(failedAt, stream.index);
        continue;
      }
      copyIn(core, packed.bytes);
      core.putPacked(stream.index, packed.compressed, packed.fileSize, packed.packedSize);
      progress(++done, streams.length);
      if (stream.entry && --entriesLeft === 0 && dataFile) waiting.unshift(dataFile);
    }
  };
  const settled = await Promise.allSettled(packersFor(wasm, packerCount(streams.length)).map(packOn));
  const answer = core.finishBuild();  // also when a packer was lost: the module lets the build go
  const lost = settled.find((result) => result.status === "rejected");
  if (lost) throw lost.reason;
  return answer;
}

// What the studio's tests share: the tools of dist/, installers made with saverpack, damaged
// copies of them (the bad-input catalogue's rows the page can show), a small Flash movie of our
// own, and readers of the pictures the tests compare (24-bit BMP, PNG screenshots).
import { execFileSync, spawnSync } from "node:child_process";
import { mkdirSync, mkdtempSync, readFileSync, readdirSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";
import { inflateSync } from "node:zlib";

export const root = resolve(dirname(fileURLToPath(import.meta.url)), "../..");
export const dist = join(root, "dist");
export const saverpack = join(dist, "saverpack");

export function tempFolder(prefix = "studio-test-") {
  return mkdtempSync(join(tmpdir(), prefix));
}

// `saverpack list --json` of a file, parsed.
export function listJson(file) {
  return JSON.parse(execFileSync(saverpack, ["list", "--json", file], { encoding: "utf8" }));
}

// What `saverpack verify` says: its problems and warnings without the file name before them, and
// the verdict line.
export function verifyWords(file) {
  const run = spawnSync(saverpack, ["verify", file], { encoding: "utf8" });
  const strip = (line) => line.slice(file.length + 2);
  const lines = run.stderr.split("\n").filter((line) => line.startsWith(`${file}: `)).map(strip);
  return {
    code: run.status,
    problems: lines.filter((line) => !line.startsWith("warning: ")),
    warnings: lines.filter((line) => line.startsWith("warning: ")).map((line) => line.slice(9)),
    verdict: run.stdout.trim() ? strip(run.stdout.trim()) : "",
  };
}

// Every file `saverpack extract` writes, by its path under the folder.
export function extracted(file) {
  const folder = tempFolder("studio-extract-");
  spawnSync(saverpack, ["extract", file, "-C", folder]);
  const files = new Map();
  const walk = (dir, prefix) => {
    for (const entry of readdirSync(dir, { withFileTypes: true })) {
      if (entry.isDirectory()) walk(join(dir, entry.name), `${prefix}${entry.name}/`);
      else files.set(`${prefix}${entry.name}`, readFileSync(join(dir, entry.name)));
    }
  };
  walk(folder, "");
  return files;
}

// The demo installer, built from demo/demo.toml with the product's install.exe.
export function demoInstaller(folder) {
  const out = join(folder, "DemoSaver-Setup.exe");
  execFileSync(saverpack, ["build", join(root, "demo/demo.toml"), "--stub", join(dist, "install.exe"),
                           "-q", "-o", out], { stdio: ["ignore", "ignore", "pipe"] });
  return out;
}

// A Flash movie of a few dozen bytes: an uncompressed SWF whose only frame is its background
// colour, width x height pixels, and runs the AVM1 actions given (bytes, as movieAsks makes them).
export function colourMovie([r, g, b], width = 350, height = 150, actions = []) {
  const bits = 15;  // enough for 8191 pixels in twips, with the sign
  const values = [0, width * 20, 0, height * 20];
  const rect = [];
  let bitString = bits.toString(2).padStart(5, "0");
  for (const v of values) bitString += v.toString(2).padStart(bits, "0");
  while (bitString.length % 8) bitString += "0";
  for (let i = 0; i < bitString.length; i += 8) rect.push(parseInt(bitString.slice(i, i + 8), 2));
  const doAction = [];
  if (actions.length) {
    const length = actions.length + 1;  // and ActionEndFlag
    doAction.push(0x3f, 0x03, length & 255, (length >> 8) & 255, (length >> 16) & 255, length >>> 24, ...actions, 0);
  }
  const body = [...rect, 0, 12, 1, 0,   // 12 frames a second, 1 frame
                0x43, 0x02, r, g, b,    // SetBackgroundColor
                ...doAction,            // DoAction (tag 12, long form)
                0x40, 0x00,             // ShowFrame
                0x00, 0x00];            // End
  const movie = Buffer.from([0x46, 0x57, 0x53, 6, 0, 0, 0, 0, ...body]);
  movie.writeUInt32LE(movie.length, 4);
  return movie;
}

// What a movie's ActionScript asks the player to load or open, as AVM1 actions:
// loadMovieNum(url, 1) is ActionGetURL with the target "_level1"; loadVariablesNum(url, 0) pushes
// the address and "_level0" and calls ActionGetURL2 with its load-variables flag (0x80; with 0x81
// it sends the movie's variables along by GET); getURL(url, target) is ActionGetURL2 with no flag.
const cString = (text) => [...Buffer.from(text, "latin1"), 0];
const withLength = (code, body) => [code, body.length & 255, body.length >> 8, ...body];
export const movieAsks = {
  loadMovieNum: (url) => withLength(0x83, [...cString(url), ...cString("_level1")]),
  loadVariablesNum: (url, sendVariables = false) =>
    [...withLength(0x96, [0, ...cString(url), 0, ...cString("_level0")]), ...withLength(0x9a, [sendVariables ? 0x81 : 0x80])],
  getURL: (url, target) => [...withLength(0x96, [0, ...cString(url), 0, ...cString(target)]), ...withLength(0x9a, [0])],
};

// An installer that plays `movie` in its window and carries it again as data-file entry 1.
export function flashInstaller(folder, movie) {
  const work = join(folder, "flash");
  mkdirSync(work, { recursive: true });
  writeFileSync(join(work, "movie.swf"), movie);
  writeFileSync(join(work, "Glow.scr"), Buffer.from("MZ a stand-in program"));
  writeFileSync(join(work, "Glow.toml"), `name = "Glow"
content = "flash"
[files.codec]
path = "${join(dist, "impborl.dll")}"
[files.content]
path = "movie.swf"
name = "installer.scf"
[files.program]
path = "Glow.scr"
[data]
[[data.entries]]
name = "glow.swf"
path = "movie.swf"
`);
  const out = join(folder, "Glow-Setup.exe");
  execFileSync(saverpack, ["build", join(work, "Glow.toml"), "--stub", join(dist, "install.exe"), "-q",
                           "-o", out], { stdio: ["ignore", "ignore", "pipe"] });
  return out;
}

// The programs an installer is built from, as the studio's worker keeps them beside the author's
// files, and a stranger's recognisable fake of each.
export const kToolNames = ["install.exe", "impborl.dll", "launcher.exe"];
export const fakeTool = (name) => Buffer.from(`MZ a stranger's ${name}, not the studio's\n`);

// A sound installer whose data-file entries are named as paths to those programs
// ("../tools/install.exe", ...), each holding its fake: the installer writes them under their last
// part, and a studio that took the names as paths would put them in place of its own programs.
export function toolNamedInstaller(folder) {
  const work = join(folder, "tool-named");
  mkdirSync(work, { recursive: true });
  for (const name of kToolNames) writeFileSync(join(work, name), fakeTool(name));
  writeFileSync(join(work, "Stranger.scr"), Buffer.from("MZ a stand-in program"));
  writeFileSync(join(work, "Stranger.toml"), `name = "Stranger"
content = "none"
[files.codec]
path = "${join(dist, "impborl.dll")}"
[files.program]
path = "Stranger.scr"
[data]
${kToolNames.map((name) => `[[data.entries]]\nname = "../tools/${name}"\npath = "${name}"\n`).join("")}`);
  const out = join(folder, "Stranger-Setup.exe");
  execFileSync(saverpack, ["build", join(work, "Stranger.toml"), "--stub", join(dist, "install.exe"), "-q",
                           "-o", out], { stdio: ["ignore", "ignore", "pipe"] });
  return out;
}

// ---- damaged installers -------------------------------------------------------------------

const kPayload = 420352, kMembers = kPayload + 68, kMemberSize = 280;
const member = (slot, field) => kMembers + slot * kMemberSize + field;
const kStart = 256, kEnd = 260, kFileSize = 276;

function withInt(bytes, at, value) {
  const copy = Buffer.from(bytes);
  copy.writeInt32LE(value, at);
  return copy;
}

function withName(bytes, slot, name) {
  const copy = Buffer.from(bytes);
  copy[member(slot, 0)] = name.length;
  copy.write(name, member(slot, 1), "latin1");
  return copy;
}

// Installers damaged as the bad-input catalogue lists, each with a line saying how, and files
// that are no installer at all.
export function damagedInstallers(demo) {
  const bytes = readFileSync(demo);
  const start = (slot) => bytes.readInt32LE(member(slot, kStart));
  const end = (slot) => bytes.readInt32LE(member(slot, kEnd));
  const data = start(8);  // the demo's data file is stored plain
  const damaged = (bytesIn) => Buffer.from(bytesIn);
  const flipped = damaged(bytes);
  for (let at = start(6) + 40; at < end(6); at += 997) flipped[at] ^= 0x5a;
  return [
    ["cut inside the payload header", bytes.subarray(0, kPayload + 3000)],
    ["cut inside the last member", bytes.subarray(0, bytes.length - 5)],
    ["an EndOffset past the end", withInt(bytes, member(6, kEnd), bytes.length + 100)],
    ["a negative StartOffset", withInt(bytes, member(4, kStart), -8)],
    ["a huge FileSize for an imploded member", withInt(bytes, member(6, kFileSize), 0x7fffffff)],
    ["imploded data damaged at several positions", flipped],
    ["a member name with folder parts", withName(bytes, 7, "..\\..\\evil.txt")],
    ["a SaverName with folder parts", (() => { const c = damaged(bytes); c.write("..\\Evil\0", kPayload + 4, "latin1"); return c; })()],
    ["a data file's EntryCount of 109", withInt(bytes, data + 212, 109)],
    ["a ChunkOffset beyond the data file", withInt(bytes, data + 1224 + 260, 1 << 20)],
    ["an empty file", Buffer.alloc(0)],
    ["a foreign file (a PNG picture)", Buffer.concat([Buffer.from("\x89PNG\r\n\x1a\n", "latin1"), Buffer.alloc(500000, 7)])],
  ];
}

// ---- pictures -----------------------------------------------------------------------------

// A 24-bit BMP's pixels as rows of [r, g, b].
export function readBmp(bytes) {
  const offset = bytes.readUInt32LE(10), width = bytes.readInt32LE(18), rawHeight = bytes.readInt32LE(22);
  if (bytes.readUInt16LE(28) !== 24) throw new Error("not a 24-bit bitmap");
  const height = Math.abs(rawHeight), stride = Math.ceil((width * 3) / 4) * 4;
  const pixel = (x, y) => {
    const row = rawHeight > 0 ? height - 1 - y : y;
    const at = offset + row * stride + x * 3;
    return [bytes[at + 2], bytes[at + 1], bytes[at]];
  };
  return { width, height, pixel };
}

// A PNG's pixels (8-bit RGB or RGBA, as Chromium's screenshots are).
export function readPng(bytes) {
  let at = 8, width = 0, height = 0, colourType = 0;
  const idat = [];
  while (at < bytes.length) {
    const length = bytes.readUInt32BE(at), type = bytes.toString("latin1", at + 4, at + 8);
    const chunk = bytes.subarray(at + 8, at + 8 + length);
    if (type === "IHDR") {
      width = chunk.readUInt32BE(0); height = chunk.readUInt32BE(4);
      if (chunk[8] !== 8) throw new Error("not an 8-bit PNG");
      colourType = chunk[9];
    } else if (type === "IDAT") idat.push(chunk);
    at += 12 + length;
  }
  const channels = colourType === 6 ? 4 : 3;
  const raw = inflateSync(Buffer.concat(idat));
  const stride = width * channels;
  const out = Buffer.alloc(height * stride);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    for (let x = 0; x < stride; x++) {
      const value = raw[y * (stride + 1) + 1 + x];
      const left = x >= channels ? out[y * stride + x - channels] : 0;
      const up = y > 0 ? out[(y - 1) * stride + x] : 0;
      const upLeft = y > 0 && x >= channels ? out[(y - 1) * stride + x - channels] : 0;
      let predicted = 0;
      if (filter === 1) predicted = left;
      else if (filter === 2) predicted = up;
      else if (filter === 3) predicted = (left + up) >> 1;
      else if (filter === 4) {
        const p = left + up - upLeft, pa = Math.abs(p - left), pb = Math.abs(p - up), pc = Math.abs(p - upLeft);
        predicted = pa <= pb && pa <= pc ? left : pb <= pc ? up : upLeft;
      }
      out[y * stride + x] = (value + predicted) & 0xff;
    }
  }
  const pixel = (x, y) => [...out.subarray(y * stride + x * channels, y * stride + x * channels + 3)];
  return { width, height, pixel };
}

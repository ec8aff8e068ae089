// The studio's WebAssembly module under node: the same facts, words and bytes as saverpack's
// command line, for sound, damaged and foreign files, and it keeps answering after any of them.
import assert from "node:assert/strict";
import { execFileSync } from "node:child_process";
import { readFileSync, writeFileSync } from "node:fs";
import { createRequire } from "node:module";
import { join } from "node:path";
import { before, test } from "node:test";

import { damagedInstallers, demoInstaller, dist, extracted, listJson, root, tempFolder, verifyWords } from "./fixtures.mjs";

const require = createRequire(import.meta.url);
let core;
let folder;
let demo;

before(async () => {
  const factory = require(join(dist, "studio/saverpack-core.js"));
  // node's own fetch cannot load the .wasm from a path: hand the module its bytes.
  core = await factory({ wasmBinary: readFileSync(join(dist, "studio/saverpack-core.wasm")) });
  folder = tempFolder();
  demo = demoInstaller(folder);
});

function open(bytes) {
  const address = core.reserve(bytes.length);
  core.HEAPU8.set(bytes, address);
  return JSON.parse(core.analyse());
}

test("the demo: list's document, verify's verdict and every file as extract writes it", () => {
  const report = open(readFileSync(demo));
  assert.deepEqual(report.list, listJson(demo));
  const words = verifyWords(demo);
  assert.deepEqual([report.problems, report.warnings, report.verdict], [words.problems, words.warnings, words.verdict]);
  assert.equal(report.window.caption, "Install DemoSaver");
  assert.equal(report.window.licence, readFileSync(join(root, "demo/licence.txt"), "latin1").replace(/\r\n?/g, "\n"));
  const files = extracted(demo);
  for (const file of report.files) {
    const result = file.source === "slot" ? core.slotFile(file.slot) : core.entryFile(file.index);
    assert.ok(result.bytes instanceof Uint8Array);
    assert.equal(result.problem, "");
    const path = file.source === "slot" ? file.name : `DemoSaver.ssd.entries/${file.name}`;
    assert.ok(files.has(path), path);
    assert.ok(Buffer.from(result.bytes).equals(files.get(path)), path);
    assert.equal(file.size, files.get(path).length);
  }
});

test("the licence as the memo shows it: its lines, Windows-1252 read as such", () => {
  const text = "First line\r\nsecond\rthird\nCaf\xe9 \x93quoted\x94\0after the NUL";
  const licence = join(folder, "licence.txt");
  writeFileSync(licence, Buffer.from(text, "latin1"));
  writeFileSync(join(folder, "licence.toml"), `name = "Memo"
content = "picture"
[files.codec]
path = "${join(dist, "impborl.dll")}"
[files.content]
path = "${join(root, "demo/picture.bmp")}"
[files.license]
path = "licence.txt"
[files.program]
path = "${join(dist, "DemoSaver.scr")}"
name = "Memo.scr"
`);
  const out = join(folder, "licence.exe");
  execFileSync(join(dist, "saverpack"),
    ["build", join(folder, "licence.toml"), "--stub", join(dist, "install.exe"), "-q", "-o", out],
    { stdio: ["ignore", "ignore", "pipe"] });
  const report = open(readFileSync(out));
  assert.equal(report.window.licence, "First line\nsecond\nthird\nCafé “quoted”");
});

test("damaged and foreign files: verify's words, what can still be read, and no abort", () => {
  for (const [what, bytes] of damagedInstallers(demo)) {
    const file = join(folder, "damaged.exe");
    writeFileSync(file, bytes);
    const report = open(bytes);
    const words = verifyWords(file);
    assert.notEqual(words.code, 0, what);
    assert.deepEqual(report.problems, words.problems, what);
    if (report.list) assert.deepEqual(report.list, listJson(file), what);
    for (const entry of report.files || []) {
      const result = entry.source === "slot" ? core.slotFile(entry.slot) : core.entryFile(entry.index);
      assert.equal(result.problem === "", entry.problem === undefined, `${what}: ${entry.name}`);
    }
  }
  // Files of another kind are told so in one line, whatever their size.
  const random = Buffer.alloc(1 << 20);
  for (let i = 0; i < random.length; i++) random[i] = (i * 2654435761) >>> 24;
  for (const [bytes, why] of [[readFileSync("/bin/ls"), "the file ends before it does"], [random, "no slot's record"]]) {
    const report = open(bytes);
    assert.match(report.not_installer, new RegExp(`^not an installer of this format: [0-9,]+ bytes, and no payload header at 0x66a00 \\(${why}`));
    assert.equal(report.list, null);
    assert.equal(report.window, undefined);
  }
  // Still answering: a sound file after all of them, and requests for what is not there.
  assert.equal(open(readFileSync(demo)).not_installer, undefined);
  assert.deepEqual(open(readFileSync(demo)).problems, []);
  assert.match(core.slotFile(2).problem, /slot 2 is empty/);
  assert.match(core.entryFile(7).problem, /no data-file entry 7/);
  assert.equal(core.slotFile(99).bytes.length, 0);
});

test("the window's layout is the installer's: with a licence and without", () => {
  const withLicence = JSON.parse(core.layout(true)), without = JSON.parse(core.layout(false));
  assert.deepEqual([withLicence.client.width, withLicence.client.height], [351, 322]);
  assert.deepEqual([without.client.width, without.client.height], [353, 215]);
  assert.deepEqual(withLicence.install_button, { left: 242, top: 293, width: 107, height: 25 });
  assert.deepEqual(without.button_panel, { left: 0, top: 152, width: 353, height: 63 });
});

// The author's files in the module's file system, by plain name, where a project names them.
function store(name, bytes, into = core.storeFile) {
  const address = core.reserveFile(bytes.length);
  core.HEAPU8.set(bytes, address);
  return into(name);
}

function storeTools() {
  for (const name of ["install.exe", "impborl.dll", "launcher.exe"])
    assert.equal(store(name, readFileSync(join(dist, name)), core.storeTool), "");
}

test("a project built in the module is byte for byte saverpack build's, at both levels", () => {
  storeTools();
  // The demo's project with every file beside it, as the page stores them.
  const text = readFileSync(join(root, "demo/demo.toml"), "utf8").replaceAll("../dist/", "");
  assert.equal(store("demo.toml", Buffer.from(text)), "");
  for (const name of ["picture.bmp", "licence.txt", "bubbles.ini", "fish.dat", "weeds.dat", "readme.txt", "bubbles.swf"])
    assert.equal(store(name, readFileSync(join(root, "demo", name))), "");
  for (const name of ["impborl.dll", "DemoSaver.scr"]) assert.equal(store(name, readFileSync(join(dist, name))), "");
  for (const fast of [false, true]) {
    const out = join(folder, `cli-${fast}.exe`);
    execFileSync(join(dist, "saverpack"), ["build", join(root, "demo/demo.toml"), "-q", "-o", out, ...(fast ? ["--fast"] : [])],
                 { stdio: ["ignore", "ignore", "pipe"] });
    const ticks = [];
    const built = core.buildProject("demo.toml", fast, false, (done, total) => ticks.push([done, total]));
    assert.deepEqual(built.problems, []);
    assert.ok(Buffer.from(built.bytes).equals(readFileSync(out)), `the ${fast ? "quick" : "best"} build differs`);
    assert.deepEqual(ticks.at(-1), [9, 9]);
    assert.match(built.warnings[0], /^\/project\/demo\.toml has no Flash runtime installer/);
  }
  // A preview stores everything plain: the same window, every file the same.
  const preview = core.buildProject("demo.toml", false, true, () => {});
  assert.deepEqual(JSON.parse(core.analyse()).problems, []);
  assert.ok(preview.bytes.length > readFileSync(join(folder, "cli-false.exe")).length);
});

test("a name is never a path: no file lands outside the author's folder, no tool but by its own call", () => {
  storeTools();
  const stub = readFileSync(join(dist, "install.exe"));
  for (const name of ["../tools/install.exe", "/tools/install.exe", "a/../../tools/install.exe", "..", ".", "",
                      "..\\tools\\install.exe", "c:install.exe", "x\u0001.exe"])
    assert.match(store(name, Buffer.from("hostile")), /not a plain file name/, JSON.stringify(name));
  assert.match(store("saverpack", Buffer.from("hostile"), core.storeTool), /is not a tool/);
  assert.match(core.buildProject("../tools/x.toml", false, true, () => {}).problems[0], /not a plain file name/);
  // The stub a build takes is still the one the page fetched.
  assert.equal(store("min.toml", Buffer.from('name = "Min"\ncontent = "none"\n[files.program]\npath = "DemoSaver.scr"\n')), "");
  const built = core.buildProject("min.toml", true, true, () => {});
  assert.deepEqual(built.problems, []);
  assert.ok(Buffer.from(built.bytes.subarray(0, stub.length)).equals(stub));
});

test("the command line's refusals come back in its words, one a line, with no installer", () => {
  storeTools();
  store("bad.toml", Buffer.from('name = "a/b"\ncontent = "picture"\n[files.content]\npath = "p.png"\n[files.program]\npath = "s.scr"\n'));
  store("p.png", Buffer.from("not a picture"));
  store("s.scr", Buffer.from("MZ but no more"));
  const named = core.buildProject("bad.toml", false, false, () => {});
  assert.equal(named.bytes, null);
  assert.ok(named.problems.some((p) => p.startsWith("/project/bad.toml:1: name \"a/b\" holds a character")), named.problems.join("\n"));
  store("bad.toml", Buffer.from('name = "ok"\ncontent = "picture"\n[files.content]\npath = "p.png"\n[files.program]\npath = "s.scr"\n'));
  const picture = core.buildProject("bad.toml", false, false, () => {});
  assert.equal(picture.bytes, null);
  assert.match(picture.problems.join("\n"), /^\/project\/p\.png: /);
  assert.ok(picture.warnings.some((w) => w.includes("not a Windows program")), picture.warnings.join("\n"));
});

test("an opened installer's project is extract --project's, file for file", () => {
  open(readFileSync(demo));
  const project = core.projectOfOpened("DemoSaver-Setup.exe");
  assert.deepEqual(project.problems, []);
  const out = tempFolder("studio-project-");
  execFileSync(join(dist, "saverpack"), ["extract", demo, "-C", out, "--project"], { stdio: "ignore" });
  assert.equal(project.text, readFileSync(join(out, "DemoSaver-Setup.toml"), "utf8"));
  for (const file of project.files) assert.ok(Buffer.from(file.bytes).equals(readFileSync(join(out, file.path))), file.path);
});

test("the module built with SIMD packs byte for byte as the plain one, at both levels", async () => {
  const factory = require(join(dist, "studio/saverpack-core.js"));
  const simd = await factory({ wasmBinary: readFileSync(join(dist, "studio/saverpack-core-simd.wasm")) });
  // Copies of every length from 3 to 70 (each side of 16 and 32 bytes compared at once), from
  // near and far, runs, and copies cut short by the end of the file.
  let seed = 7;
  const random = () => (seed = (seed * 1103515245 + 12345) >>> 0) >>> 24;
  const parts = [];
  for (let length = 3; length <= 70; length++) {
    const piece = Array.from({ length }, random);
    parts.push(...piece, ...Array.from({ length: length * 37 % 3000 }, random), ...piece, random() | 1);
  }
  parts.push(...new Array(600).fill(65), ...Array.from({ length: 40 }, (_, i) => i % 5));
  const input = Uint8Array.from(parts);
  const ends = [input.subarray(0, 17), input.subarray(0, 4000), Uint8Array.from([...input.subarray(0, 300), ...input.subarray(0, 45)])];
  const pack = (module, bytes, fast) => {
    const address = module.reserveFile(bytes.length);
    module.HEAPU8.set(bytes, address);
    const packed = module.packReserved("test", 1, fast);  // imploded whatever the size
    assert.equal(packed.problem, "");
    return Buffer.from(packed.bytes);
  };
  for (const bytes of [input, ...ends])
    for (const fast of [false, true])
      assert.ok(pack(simd, bytes, fast).equals(pack(core, bytes, fast)), `${bytes.length} bytes, ${fast ? "fast" : "best"}`);
});

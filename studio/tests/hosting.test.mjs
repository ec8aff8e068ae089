// The studio page wherever it is served: dist/studio as it is from a plain static server (no
// token, no policy headers, under a folder of its own), the programs saverpack studio builds with
// (its own beside it, else the page folder's tools/), and saverpack.exe studio under Wine. Each
// opens the demo and builds the demo's files in the New installer form into the bytes `saverpack
// build` makes of the project the page gives.
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import { chmodSync, copyFileSync, cpSync, existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from "node:fs";
import { request } from "node:http";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before, test } from "node:test";

import { chromium } from "playwright-core";

import { demoInstaller, dist, kToolNames, root, saverpack, tempFolder, verifyWords } from "./fixtures.mjs";

const kChromium = process.env.STUDIO_CHROMIUM || "/usr/bin/chromium";
const kWine = "/usr/lib/wine/wine64", kWineServer = "/usr/lib/wine/wineserver64";
const kStubSize = 420352;  // install.exe, the installer's first bytes
let folder, demo, context, page;
const pageErrors = [];
const origins = new Set();  // the servers the page may reach
const children = new Set(); // servers started here, stopped at the end

before(async () => {
  folder = tempFolder("studio-hosting-");
  const built = join(dist, "demo/DemoSaver-Setup.exe");
  demo = existsSync(built) ? built : demoInstaller(folder);
  context = await chromium.launchPersistentContext(mkdtempSync(join(tmpdir(), "studio-chromium-")), {
    executablePath: kChromium,
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync"],
    viewport: { width: 1280, height: 900 },
    acceptDownloads: true,
  });
  page = context.pages()[0] || (await context.newPage());
  page.on("pageerror", (error) => pageErrors.push(error.message));
  await context.route((url) => !origins.has(url.origin) && !["blob:", "data:"].includes(url.protocol),
                      (route) => { pageErrors.push(`request elsewhere: ${route.request().url()}`); route.abort(); });
});

after(async () => {
  await context?.close();
  for (const child of children) child.kill("SIGKILL");
});

// Starts a server program and waits for the line on its stdout that pattern finds; its first group
// is the address.
function started(program, args, pattern, options = {}) {
  const child = spawn(program, args, { stdio: ["ignore", "pipe", "pipe"], ...options });
  children.add(child);
  child.on("exit", () => children.delete(child));
  let out = "", err = "";
  child.stderr.on("data", (chunk) => { err += chunk; });
  const address = new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error(`${program} printed no address: ${out}${err}`)), 30000);
    child.stdout.on("data", (chunk) => {
      out += chunk;
      const found = out.match(pattern);
      if (found) {
        clearTimeout(timer);
        resolve(found[1]);
      }
    });
    child.on("exit", (code) => reject(new Error(`${program} ended with ${code}: ${out}${err}`)));
  });
  return { child, address, output: () => out + err };
}

const studio = (binary, args, options) => started(binary, ["studio", ...args, "--no-open"], /Studio: (http:\/\/\S+)/, options);

// Stops a server with Ctrl-C (SIGINT) and waits for it to end: its exit code, or "killed" when
// it did not end within 10 s.
function interrupted(child) {
  return new Promise((resolve) => {
    if (child.exitCode !== null) return resolve(child.exitCode);
    const timer = setTimeout(() => { child.kill("SIGKILL"); resolve("killed"); }, 10000);
    child.on("exit", (code, signal) => { clearTimeout(timer); resolve(code ?? signal); });
    child.kill("SIGINT");
  });
}

// A file from a server by its address with the Host it names, as a browser asks.
function fetched(url) {
  return new Promise((resolve, reject) => {
    const at = new URL(url);
    const req = request({ host: "127.0.0.1", port: at.port, path: at.pathname, headers: { Host: at.host } }, (res) => {
      const chunks = [];
      res.on("data", (chunk) => chunks.push(chunk));
      res.on("end", () => resolve({ status: res.statusCode, bytes: Buffer.concat(chunks) }));
    });
    req.on("error", reject);
    req.end();
  });
}

async function download(selector) {
  const [file] = await Promise.all([page.waitForEvent("download"), page.click(selector)]);
  return readFileSync(await file.path());
}

// The demo opened, through the page's chooser or as the address asks: its window's caption and
// verify's verdict.
async function opensTheDemo(address, choose = true) {
  await page.goto(address);
  if (choose) {
    await page.evaluate(() => { document.body.dataset.report = ""; });
    await page.setInputFiles("#chooser", demo);
  }
  await page.waitForSelector('body[data-report="shown"]', { state: "attached", timeout: 30000 });
  assert.equal(await page.textContent(".caption-text"), "Install DemoSaver");
  assert.equal(await page.textContent("#verdict"), verifyWords(demo).verdict);
}

const kDemoFiles = {
  program: join(dist, "DemoSaver.scr"), "content-file": join(root, "demo/picture.bmp"),
  license: join(root, "demo/licence.txt"), extra: join(root, "demo/bubbles.ini"),
  library1: join(root, "demo/fish.dat"), library2: join(root, "demo/weeds.dat"),
};
const kDemoEntries = [join(root, "demo/readme.txt"), join(root, "demo/bubbles.swf")];

// The demo's files in the New installer form, built: the installer and the project the page
// offers, and saverpack build's installer of that project beside copies of the same files (with
// the programs given, as saverpack build's options).
async function formBuild(address, programs) {
  await page.goto(address);
  await page.click("#new-installer");
  await page.fill('input[name="name"]', "DemoSaver");
  for (const [field, file] of Object.entries(kDemoFiles)) await page.setInputFiles(`input[name="${field}"]`, file);
  await page.setInputFiles('input[name="entries"]', kDemoEntries);
  await page.selectOption('select[name="uninstall"]', "program");
  await page.check('input[name="open_display_properties"]');
  await page.click("#build");
  await page.waitForFunction(() => document.getElementById("download-installer") ||
                                   document.getElementById("build-state").textContent.startsWith("Not built"),
                             null, { timeout: 90000 });
  const problems = await page.$$eval(".problem", (nodes) => nodes.map((n) => n.textContent));
  assert.deepEqual(problems, [], "the form's build has problems");
  const installer = await download("#download-installer");
  const beside = tempFolder("studio-hosting-form-");
  for (const file of [...Object.values(kDemoFiles), ...kDemoEntries])
    copyFileSync(file, join(beside, file.split("/").pop()));
  writeFileSync(join(beside, "DemoSaver.toml"), await download("#download-project"));
  execFileSync(saverpack, ["build", join(beside, "DemoSaver.toml"), "-q", "-o", join(beside, "cli.exe"),
                           "--stub", join(programs, "install.exe"), "--codec", join(programs, "impborl.dll"),
                           "--launcher", join(programs, "launcher.exe")], { stdio: ["ignore", "ignore", "pipe"] });
  return { installer, cli: readFileSync(join(beside, "cli.exe")) };
}

// dist/studio as it is, copied under a folder of a site (as a project page is served), with what
// the page reaches as relative addresses only.
function siteCopy() {
  const site = join(folder, `site-${Date.now()}`);
  cpSync(join(dist, "studio"), join(site, "saverpack/studio"), { recursive: true, dereference: true });
  return site;
}

test("dist/studio carries the product's programs under tools/, and builds from any static server", async () => {
  for (const name of kToolNames) {
    const file = join(dist, "studio/tools", name);
    assert.ok(existsSync(file), `${file} is missing: scripts/build copies it there`);
    assert.ok(readFileSync(file).equals(readFileSync(join(dist, name))), `${file} is not dist/${name}`);
  }
  // Python's own server: no token, no Host check, no policy header; the page's metas hold.
  const site = siteCopy();
  const server = started("python3", ["-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", site],
                         /Serving HTTP on \S+ port (\d+)/);
  const address = `http://127.0.0.1:${await server.address}/saverpack/studio/`;
  origins.add(new URL(address).origin);
  try {
    await opensTheDemo(address);
    const { installer, cli } = await formBuild(address, dist);
    assert.ok(installer.equals(cli), "the page's build differs from saverpack build's");
    assert.ok(installer.subarray(0, kStubSize).equals(readFileSync(join(dist, "install.exe"))), "not the product's install.exe");
  } finally {
    server.child.kill("SIGTERM");
  }
  assert.deepEqual(pageErrors, []);
});

// saverpack studio builds with its own programs, saverpack build's defaults, when all three lie
// beside it, and with the page folder's tools/ otherwise (a saverpack copied alone); with --root a
// page folder without tools/, still with its own.
test("saverpack studio's tools/: the programs beside saverpack, else the page folder's", async () => {
  const page32 = join(siteCopy(), "saverpack/studio");
  const page64 = join(siteCopy(), "saverpack/studio");
  const bare = join(siteCopy(), "saverpack/studio");
  for (const name of kToolNames) copyFileSync(join(dist, "win64", name), join(page64, "tools", name));
  rmSync(join(bare, "tools"), { recursive: true });
  const alone = tempFolder("studio-alone-");
  copyFileSync(saverpack, join(alone, "saverpack"));
  chmodSync(join(alone, "saverpack"), 0o755);
  const cases = [
    [saverpack, page64, dist, "beside saverpack, over the page's own"],
    [saverpack, bare, dist, "beside saverpack, the page folder having none"],
    [join(alone, "saverpack"), page64, join(dist, "win64"), "the page folder's, none beside saverpack"],
    [join(alone, "saverpack"), page32, dist, "the page folder's, none beside saverpack"],
  ];
  for (const [binary, pageFolder, expected, what] of cases) {
    const server = studio(binary, ["--root", pageFolder]);
    const address = await server.address;
    try {
      for (const name of kToolNames) {
        const answer = await fetched(`${address}tools/${name}`);
        assert.equal(answer.status, 200, `${what}: ${name}`);
        assert.ok(answer.bytes.equals(readFileSync(join(expected, name))), `${what}: ${name} is not ${expected}'s`);
      }
      assert.equal(/page builds with its folder's tools/.test(server.output()), binary !== saverpack, what);
    } finally {
      assert.equal(await interrupted(server.child), 0, what);
    }
  }
  const server = studio(join(alone, "saverpack"), ["--root", bare]);
  try {
    assert.equal((await fetched(`${await server.address}tools/install.exe`)).status, 404);
  } finally {
    await interrupted(server.child);
  }
});

const windowsPath = (path) => `Z:${path.replaceAll("/", "\\")}`;

// The environment scripts/wine-prefix exports for a fresh 64-bit prefix, made in DIR.
function winePrefix(dir) {
  const line = execFileSync(join(root, "scripts/wine-prefix"), [dir], { encoding: "utf8", stdio: ["ignore", "pipe", "pipe"] });
  const env = { ...process.env };
  for (const [, name, quoted, plain] of line.matchAll(/(\w+)=(?:'([^']*)'|(\S+))/g)) env[name] = quoted ?? plain;
  return env;
}

// The 64-bit build's saverpack.exe (dist/win64: its programs beside it, the page given as a
// Windows path) serves the page under Wine: the demo opens from the address it prints, the form
// builds saverpack build's bytes with the 64-bit programs, and Ctrl-C stops it; a copy alone
// serves the page folder's programs.
test("saverpack.exe studio under Wine serves the page that opens the demo and builds", async (t) => {
  const exe = join(dist, "win64/saverpack.exe");
  if (!existsSync(kWine) || !existsSync(kWineServer)) return t.skip(`no 64-bit Wine here (${kWine}, ${kWineServer})`);
  if (!existsSync(exe)) return t.skip(`${exe} is missing: bash scripts/build makes it`);
  const startedAt = Date.now();
  const env = winePrefix(join(root, "build/wine-prefix-hosting"));
  const made = Date.now() - startedAt;
  try {
    const server = started(kWine, [exe, "studio", windowsPath(demo), "--root", windowsPath(join(dist, "studio")), "--no-open"],
                           /Studio: (http:\/\/\S+)/, { env });
    const address = await server.address;
    const at = new URL(address);
    assert.match(at.hostname, /^[0-9a-f]{32}\.localhost$/);
    assert.match(at.pathname, /^\/[0-9a-f]{32}\/$/);
    origins.add(at.origin);
    try {
      await opensTheDemo(address, false);  // the installer given, from the server (?open=)
      const { installer, cli } = await formBuild(address.split("?")[0], join(dist, "win64"));
      assert.ok(installer.equals(cli), "the page's build under Wine differs from saverpack build's");
      assert.ok(installer.subarray(0, kStubSize).equals(readFileSync(join(dist, "win64/install.exe"))),
                "not the install.exe beside saverpack.exe");
    } finally {
      assert.equal(await interrupted(server.child), 0, "Ctrl-C did not end saverpack.exe studio cleanly");
      assert.match(server.output(), /Studio stopped\./);
    }
    // A saverpack.exe copied alone serves the page folder's own programs.
    const alone = tempFolder("studio-wine-alone-");
    copyFileSync(exe, join(alone, "saverpack.exe"));
    const bare = started(kWine, [join(alone, "saverpack.exe"), "studio", "--root", windowsPath(join(dist, "studio")),
                                 "--no-open"], /Studio: (http:\/\/\S+)/, { env });
    try {
      const answer = await fetched(`${await bare.address}tools/install.exe`);
      assert.ok(answer.status === 200 && answer.bytes.equals(readFileSync(join(dist, "studio/tools/install.exe"))),
                `tools/install.exe of a saverpack.exe alone: ${answer.status}`);
    } finally {
      await interrupted(bare.child);
    }
  } finally {
    execFileSync(env.WINESERVER ?? kWineServer, ["-k"], { env, stdio: "ignore" });
  }
  t.diagnostic(`Wine prefix made in ${made} ms; the whole test took ${Date.now() - startedAt} ms`);
  assert.deepEqual(pageErrors, []);
});

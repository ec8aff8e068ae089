// The studio in a real browser: Debian's Chromium, headless, through `saverpack studio`. The page
// against saverpack's own output, the preview against the real window's rectangles (recorded
// by the end-to-end suite under Wine), movies through Ruffle, damaged files, and the server's
// refusals.
import assert from "node:assert/strict";
import { execFileSync, spawn } from "node:child_process";
import { once } from "node:events";
import { chmodSync, copyFileSync, existsSync, mkdirSync, mkdtempSync, readFileSync, symlinkSync, writeFileSync } from "node:fs";
import { request } from "node:http";
import { createRequire } from "node:module";
import { connect } from "node:net";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before, test } from "node:test";

import { chromium } from "playwright-core";

import {
  colourMovie, damagedInstallers, demoInstaller, extracted, fakeTool, flashInstaller, kToolNames, listJson, movieAsks,
  readBmp, dist, readPng, root, saverpack, tempFolder, toolNamedInstaller, verifyWords,
} from "./fixtures.mjs";

const kChromium = process.env.STUDIO_CHROMIUM || "/usr/bin/chromium";
let folder, demo, server, address, context, page;
const pageErrors = [];
const servers = new Set();  // the origins of the studios the page may reach
const serverLog = [];       // the lines the first studio wrote on stderr (its refusals)
const requested = [];       // every address the page and its workers asked for

// Starts `saverpack studio FILE --no-open [OPTIONS]` and waits for the address it prints.
function startStudio(file, binary = saverpack, log = null, options = []) {
  const child = spawn(binary, ["studio", file, "--no-open", ...options], { stdio: ["ignore", "pipe", "pipe"] });
  child.stderr.on("data", (chunk) => log?.push(...String(chunk).split("\n").filter(Boolean)));
  return new Promise((resolve, reject) => {
    let out = "";
    const timer = setTimeout(() => reject(new Error(`saverpack studio printed no address: ${out}`)), 10000);
    child.stdout.on("data", (chunk) => {
      out += chunk;
      const found = out.match(/Studio: (http:\/\/\S+)/);
      if (found) {
        clearTimeout(timer);
        resolve({ child, address: found[1] });
      }
    });
    child.on("exit", (code) => reject(new Error(`saverpack studio ended with ${code}: ${out}`)));
  });
}

before(async () => {
  folder = tempFolder();
  demo = demoInstaller(folder);
  ({ child: server, address } = await startStudio(demo, saverpack, serverLog));
  servers.add(new URL(address).origin);
  context = await chromium.launchPersistentContext(mkdtempSync(join(tmpdir(), "studio-chromium-")), {
    executablePath: kChromium,
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
           "--disable-background-networking", "--disable-component-update", "--disable-sync",
           "--force-color-profile=srgb"],
    viewport: { width: 1280, height: 900 },
    deviceScaleFactor: 1,
    acceptDownloads: true,
  });
  page = context.pages()[0] || (await context.newPage());
  page.on("pageerror", (error) => pageErrors.push(error.message));
  context.on("request", (r) => requested.push(r.url()));
  // Nothing may leave the machine: every request goes to the studio's own server.
  await context.route((url) => !servers.has(url.origin) && !["blob:", "data:", "file:"].includes(url.protocol),
                      (route) => { pageErrors.push(`request elsewhere: ${route.request().url()}`); route.abort(); });
});

after(async () => {
  await context?.close();
  server?.kill("SIGINT");
});

async function shown() {
  await page.waitForSelector('body[data-report="shown"]', { state: "attached", timeout: 30000 });
}

// Opens a file through the page's chooser, as a user would.
async function openThroughChooser(file) {
  await page.evaluate(() => { document.body.dataset.report = ""; });
  await page.setInputFiles("#chooser", file);
  await shown();
}

async function rectsInClient(ids) {
  return page.evaluate((names) => {
    const client = document.getElementById("client").getBoundingClientRect();
    const out = {};
    for (const [key, id] of Object.entries(names)) {
      const node = document.getElementById(id);
      if (!node) continue;
      const r = node.getBoundingClientRect();
      out[key] = { left: r.left - client.left, top: r.top - client.top, width: r.width, height: r.height };
    }
    out.client = { width: client.width, height: client.height };
    return out;
  }, ids);
}

const kControls = { content_panel: "content-panel", image: "picture", memo: "memo",
                    button_panel: "button-panel", progress_bar: "progress-bar",
                    install_button: "install-button", decline_button: "decline-button" };

test("the demo through saverpack studio: its window, its picture pixel for pixel, list's facts", async () => {
  await page.goto(address);
  await shown();
  assert.equal(await page.textContent(".caption-text"), "Install DemoSaver");
  const licence = readFileSync(join(root, "demo/licence.txt"), "latin1").replace(/\r\n?/g, "\n");
  assert.equal(await page.inputValue("#memo"), licence);
  assert.equal(await page.getAttribute("#install-button", "data-caption"), "Accept and Install");
  assert.equal(await page.textContent("#decline-button"), "Decline");
  assert.equal(await page.textContent("#decline-button u"), "D");
  assert.equal(await page.textContent("#verdict"), verifyWords(demo).verdict);

  // The picture region of a screenshot is the stored bitmap (slot 3), pixel for pixel.
  const bitmap = readBmp(extracted(demo).get("installer.scf"));
  const box = await page.locator("#picture").boundingBox();
  assert.ok(Number.isInteger(box.x) && Number.isInteger(box.y), `the picture lies between pixels: ${box.x}, ${box.y}`);
  const shot = readPng(await page.screenshot({ clip: box }));
  assert.deepEqual([shot.width, shot.height], [bitmap.width, bitmap.height]);
  let differing = 0;
  for (let y = 0; y < bitmap.height; y++)
    for (let x = 0; x < bitmap.width; x++)
      if (shot.pixel(x, y).join() !== bitmap.pixel(x, y).join()) differing++;
  assert.equal(differing, 0, `${differing} pixels differ`);

  // Every fact in the tables is list --json's.
  const list = listJson(demo);
  const cells = await page.$$eval("[data-key]", (nodes) => nodes.map((n) => {
    const row = n.closest("[data-slot],[data-entry]");
    return { slot: row?.dataset.slot, entry: row?.dataset.entry, key: n.dataset.key, text: n.textContent };
  }));
  let checked = 0;
  for (const { slot, entry, key, text } of cells) {
    const source = slot !== undefined ? list.slots[Number(slot)]
                 : entry !== undefined ? list.data_file.entries[Number(entry) - 1] : list;
    assert.equal(text, String(source[key]), `${slot ?? entry ?? ""} ${key}`);
    checked++;
  }
  assert.ok(checked > 60, `only ${checked} facts shown`);
  assert.equal(await page.textContent("#uninstall"), "Uninstall: the program in slot 6 handles \"/u\" itself");
  assert.equal(await page.textContent("#signature"), "Signature: none");
  mkdirSync(join(root, "build/studio"), { recursive: true });
  await page.screenshot({ path: join(root, "build/studio/studio-demo.png") });

  // The demo's own movie, a data-file entry, plays from its Play button at its own size.
  const blue = [90, 168, 224];
  await page.click("[data-entry='2'] .play");
  await page.waitForSelector("#player-stage iframe");
  const stage = await page.locator("#player-stage iframe").boundingBox();
  assert.deepEqual([stage.width, stage.height], [350, 150]);
  assert.deepEqual(await colourOf("#player-stage iframe", blue), blue);
  await page.click("#player-close");
});

test("downloads: every member and entry, expanded, under its own name", async () => {
  const files = extracted(demo);
  const rows = [["[data-slot='4']", "agreement.txt"], ["[data-slot='6']", "DemoSaver.scr"],
                ["[data-entry='1']", "DemoSaver.ssd.entries/readme.txt"]];
  for (const [row, path] of rows) {
    const [download] = await Promise.all([page.waitForEvent("download"), page.click(`${row} .download`)]);
    assert.equal(download.suggestedFilename(), path.split("/").pop());
    const saved = join(folder, `download-${download.suggestedFilename()}`);
    await download.saveAs(saved);
    assert.ok(readFileSync(saved).equals(files.get(path)), path);
  }
});

test("the preview is the window: every control within 1 pixel of the real one under Wine", async (t) => {
  const recordFolder = process.env.STUDIO_WINDOW_RECORD ||
    ["win32", "win64"].map((p) => join(root, "build", p, "artefacts")).find((d) => existsSync(join(d, "window-rects.json")));
  assert.ok(recordFolder, "no window-rects.json: the end-to-end suite records it under Wine");
  const record = JSON.parse(readFileSync(join(recordFolder, "window-rects.json"), "utf8"));
  for (const kind of ["licence", "plain"]) {
    const real = record[kind];
    await openThroughChooser(join(recordFolder, real.installer));
    const preview = await rectsInClient(kControls);
    assert.equal(await page.textContent(".caption-text"), real.caption);
    assert.equal(await page.getAttribute("#install-button", "data-caption"), real.install_caption);
    assert.ok(Math.abs(preview.client.width - real.client.width) <= 1 &&
              Math.abs(preview.client.height - real.client.height) <= 1, `${kind} client`);
    for (const key of Object.keys(kControls)) {
      assert.equal(key in preview, key in real, `${kind}: ${key} shown in one and not the other`);
      if (!(key in real)) continue;
      for (const side of ["left", "top", "width", "height"])
        assert.ok(Math.abs(preview[key][side] - real[key][side]) <= 1,
                  `${kind} ${key}.${side}: preview ${preview[key][side]}, window ${real[key][side]}`);
    }
  }
  t.diagnostic(`compared with ${recordFolder}`);
});

// The colour at the middle of an element, once the movie has drawn it.
async function colourOf(selector, expected) {
  const deadline = Date.now() + 20000;
  let last = null;
  while (Date.now() < deadline) {
    const shot = readPng(await page.locator(selector).screenshot());
    last = shot.pixel(shot.width >> 1, shot.height >> 1);
    if (last.every((v, i) => Math.abs(v - expected[i]) <= 3)) return last;
    await page.waitForTimeout(250);
  }
  return last;
}

test("a Flash movie of our own plays in the content panel and from the Play button", async () => {
  const red = [200, 30, 40], green = [20, 160, 60];
  const flash = flashInstaller(join(folder, "red"), colourMovie(red));
  await openThroughChooser(flash);
  assert.deepEqual(await colourOf("#content-movie", red), red);
  assert.equal(await page.textContent(".caption-text"), "Install Glow");

  const small = flashInstaller(join(folder, "green"), colourMovie(green, 120, 80));
  await openThroughChooser(small);
  await page.click("[data-entry='1'] .play");
  await page.waitForSelector("#player-stage iframe");
  const box = await page.locator("#player-stage iframe").boundingBox();
  assert.deepEqual([box.width, box.height], [120, 80]);
  assert.deepEqual(await colourOf("#player-stage iframe", green), green);
  await page.click("#player-close");

  // The Flash demo: its data file's first entry is made from the window's movie, and so is a
  // movie too, with the movie's bytes.
  const flashDemo = join(folder, "FlashDemo-Setup.exe");
  execFileSync(saverpack, ["build", join(root, "demo/flash-demo.toml"), "--stub", join(root, "dist/install.exe"),
                           "-q", "-o", flashDemo], { stdio: ["ignore", "ignore", "pipe"] });
  await openThroughChooser(flashDemo);
  await page.waitForSelector("#content-movie iframe");
  assert.equal(await page.textContent("[data-entry='1'] [data-key='name']"), "screensaver.swf");
  assert.ok(await page.isVisible("[data-entry='1'] .play"));
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("[data-entry='1'] .download")]);
  const saved = join(folder, "screensaver.swf");
  await download.saveAs(saved);
  assert.ok(readFileSync(saved).equals(readFileSync(join(root, "demo/bubbles.swf"))));
});

// A movie that asks for the server's files by every way AVM1 has, by relative addresses (which
// the page's address would make the server's, with its token) and absolute ones (the token known):
// while it plays in the window and from Play, no request but the player's own files leaves the
// page, its frames or its worker, and the server refuses none either.
test("a movie reaches nothing: loadMovieNum, loadVariablesNum and getURL, relative and absolute", async () => {
  const at = new URL(address);
  const token = at.pathname.split("/")[1];
  const own = `${at.origin}/${token}/`;
  const addresses = ["open/DemoSaver-Setup.exe", "tools/install.exe", "index.html", `${own}open/DemoSaver-Setup.exe`,
                     `${own}tools/install.exe`, `http://127.0.0.1:${at.port}/${token}/tools/install.exe`,
                     `http://localhost:${at.port}/${token}/index.html`];
  const asks = addresses.flatMap((url) => [...movieAsks.loadMovieNum(url), ...movieAsks.loadVariablesNum(url),
                                           ...movieAsks.loadVariablesNum(url, true), ...movieAsks.getURL(url, "_blank")]);
  asks.push(...movieAsks.getURL("index.html", "_self"), ...movieAsks.getURL(`${own}index.html`, "_top"));
  const purple = [120, 40, 160];
  const reaching = flashInstaller(join(folder, "reaching"), colourMovie(purple, 200, 100, asks));
  await page.goto(address.split("?")[0]);
  await page.waitForLoadState("networkidle");

  const requested = [];
  const frames = [];  // each player frame's origin, and what became of its own request
  const onRequest = (request) => requested.push(request);
  context.on("request", onRequest);
  const logged = serverLog.length;
  try {
    await openThroughChooser(reaching);
    assert.deepEqual(await colourOf("#content-movie", purple), purple);
    await page.waitForTimeout(3000);
    await page.click("[data-entry='1'] .play");
    assert.deepEqual(await colourOf("#player-stage", purple), purple);
    await page.waitForTimeout(3000);
    // A script in the player's frames, not only Ruffle, is held by their policy too.
    for (const frame of page.frames().filter((f) => f.url().endsWith("/player.html")))
      frames.push(await frame.evaluate((url) => new Promise((resolve) => {
        const xhr = new XMLHttpRequest();
        xhr.onload = () => resolve([self.origin, "loaded"]);
        xhr.onerror = () => resolve([self.origin, "refused"]);
        try { xhr.open("GET", url); xhr.send(); } catch { resolve([self.origin, "refused"]); }
      }), `${own}index.html`));
  } finally {
    context.off("request", onRequest);
  }
  // The player's own files may come; a request a policy stopped never left the browser (Chromium
  // reports it failed with "csp"): here the frames' two, and nothing else at all.
  const playerFiles = new RegExp(`^/${token}/(player\\.html|player\\.js|ruffle/[\\w.]+\\.(js|wasm))$`);
  const stopped = (r) => r.failure()?.errorText === "csp";
  const strays = requested.filter((r) => {
    const u = new URL(r.url());
    return !stopped(r) && !["blob:", "data:"].includes(u.protocol) &&
           !(u.origin === at.origin && playerFiles.test(u.pathname));
  }).map((r) => r.url());
  assert.deepEqual(strays, []);
  assert.deepEqual(serverLog.slice(logged), []);
  // Both played in frames of an origin of their own ("null").
  assert.deepEqual(frames, [["null", "refused"], ["null", "refused"]]);
  assert.deepEqual(requested.filter(stopped).map((r) => r.url()), [`${own}index.html`, `${own}index.html`]);
  assert.equal(page.url(), address.split("?")[0]);
  assert.deepEqual(pageErrors, []);
  await page.click("#player-close");
});

test("damaged and foreign files: verify's words on the page, no page error, no hang", async () => {
  for (const [what, bytes] of damagedInstallers(demo)) {
    const file = join(folder, "damaged.exe");
    writeFileSync(file, bytes);
    const started = Date.now();
    await openThroughChooser(file);
    assert.ok(Date.now() - started < 15000, `${what}: took ${Date.now() - started} ms`);
    const problems = await page.$$eval("#verdict .problem", (nodes) => nodes.map((n) => n.textContent));
    assert.deepEqual(problems, verifyWords(file).problems, what);
    assert.equal(await page.isVisible("#page-error"), false, what);
  }
  // The page is still usable: the demo opens again.
  await openThroughChooser(demo);
  assert.equal(await page.textContent(".caption-text"), "Install DemoSaver");
  assert.deepEqual(pageErrors, []);
});

// One request to the studio's server with a Host of our choosing (fetch may not set one).
function get(path, host) {
  const url = new URL(address);
  return new Promise((resolve, reject) => {
    const req = request({ host: "127.0.0.1", port: url.port, path, headers: { Host: host || url.host } }, (res) => {
      let text = "";
      res.setEncoding("latin1");
      res.on("data", (chunk) => { text += chunk; });
      res.on("end", () => resolve(Object.assign(res, { text })));
    });
    req.on("error", reject);
    req.end();
  });
}

test("the server: the token, the Host and the folder hold; each answer has its type and policy", async () => {
  const url = new URL(address);
  const token = url.pathname.split("/")[1];
  const page_ = await get(`/${token}/`);
  assert.equal(page_.statusCode, 200);
  assert.match(page_.headers["content-type"], /^text\/html/);
  assert.match(page_.headers["content-security-policy"], /script-src 'self' 'wasm-unsafe-eval'/);
  for (const module of ["saverpack-core.wasm", "saverpack-core-simd.wasm"])
    assert.equal((await get(`/${token}/${module}`)).headers["content-type"], "application/wasm");
  assert.equal((await get(`/${token}/open/DemoSaver-Setup.exe`)).statusCode, 200);

  const refused = [
    ["/index.html", undefined, "no token"],
    [`/${token.slice(0, -1)}${token.endsWith("0") ? "1" : "0"}/index.html`, undefined, "a wrong token"],
    [`/${token}/`, `evil.example:${url.port}`, "a foreign Host"],
    [`/${token}/`, "127.0.0.1:1", "another port"],
    [`/${token}/../studio/index.html`, undefined, "a .. segment"],
    [`/${token}/%2e%2e/saverpack`, undefined, "an encoded .."],
    [`/${token}/..%2fsaverpack`, undefined, "an encoded slash"],
    [`/${token}/%252e%252e/saverpack`, undefined, "a doubly encoded .."],
    [`/${token}/ruffle/`, undefined, "a folder listing"],
    [`/${token}/open/other.exe`, undefined, "another file than FILE"],
    [`/${token}/..\\saverpack`, undefined, "a backslash"],
  ];
  for (const [path, host, what] of refused) {
    const answer = await get(path, host);
    assert.ok(answer.statusCode >= 400 && answer.statusCode < 500, `${what}: ${answer.statusCode}`);
    assert.ok(answer.headers["content-security-policy"], `${what}: no policy`);
    assert.equal(answer.headers["x-content-type-options"], "nosniff", what);
  }
  // The two documents carry their policies in meta elements too, for servers that send none: the
  // header's, but for what only a header can give. The player's frame reaches nothing at all.
  const directives = (policy) => policy.split(";").map((d) => d.trim()).filter(Boolean).sort();
  for (const file of ["index.html", "player.html"]) {
    const answer = await get(`/${token}/${file}`);
    const meta = answer.text.match(/<meta http-equiv="Content-Security-Policy" content="([^"]*)">/);
    assert.ok(meta, `${file}: no policy of its own`);
    assert.deepEqual(directives(meta[1]), directives(answer.headers["content-security-policy"])
      .filter((d) => !/^(frame-ancestors|sandbox) /.test(d)), file);
  }
  const player = directives((await get(`/${token}/player.html`)).headers["content-security-policy"]);
  for (const directive of ["connect-src 'none'", "frame-ancestors 'self'", "sandbox allow-scripts"])
    assert.ok(player.includes(directive), directive);
  const scripts = page_.headers["content-security-policy"].match(/script-src [^;]*/)[0];
  assert.doesNotMatch(scripts, /'unsafe-eval'|'unsafe-inline'/);
  assert.equal(page_.headers["referrer-policy"], "no-referrer");
  // Two Host headers, the first one this server's: refused as malformed.
  const twice = await new Promise((resolve, reject) => {
    const req = request({ host: "127.0.0.1", port: url.port, path: `/${token}/`,
                          headers: ["Host", url.host, "Host", "evil.example"] },
                        (res) => { res.resume(); res.on("end", () => resolve(res)); });
    req.on("error", reject);
    req.end();
  });
  assert.equal(twice.statusCode, 400);
  // The server's own refusal of a malformed request carries the policy too.
  const raw = await new Promise((resolve, reject) => {
    // Not half-closed: cpp-httplib answers nothing to a request whose sender has stopped writing.
    const socket = connect(Number(url.port), "127.0.0.1", () => socket.write("BROKEN\r\n\r\n"));
    let text = "";
    socket.setTimeout(5000, () => socket.end());
    socket.on("data", (chunk) => { text += chunk; if (text.includes("\r\n\r\n")) socket.end(); });
    socket.on("end", () => resolve(text));
    socket.on("error", reject);
  });
  assert.match(raw, /^HTTP\/1\.1 400/);
  assert.match(raw, /Content-Security-Policy: default-src 'none'/i);
});

// ---- the New installer form ----------------------------------------------------------------

const kDemoChoices = {
  program: join(root, "dist/DemoSaver.scr"), "content-file": join(root, "demo/picture.bmp"),
  license: join(root, "demo/licence.txt"), extra: join(root, "demo/bubbles.ini"),
  library1: join(root, "demo/fish.dat"), library2: join(root, "demo/weeds.dat"),
};

async function newInstaller(choices, at = address) {
  await page.goto(at.split("?")[0]);
  await fillForm(choices);
}

// The New installer form, in the page as it is, with the choices, the demo's entries, the
// program as its own uninstall and Display Properties after installing.
async function fillForm(choices) {
  await page.click("#new-installer");
  await page.fill('#maker [name="name"]', "DemoSaver");
  for (const [field, file] of Object.entries(choices)) await page.setInputFiles(`#maker [name="${field}"]`, file);
  await page.setInputFiles('#maker [name="entries"]', [join(root, "demo/readme.txt"), join(root, "demo/bubbles.swf")]);
  await page.selectOption('#maker [name="uninstall"]', "program");
  await page.check('#maker [name="open_display_properties"]');
}

// The preview of the form's latest state.
async function previewed() {
  await page.waitForFunction(() => document.body.dataset.preview === "shown" && document.body.dataset.report !== "loading",
                             null, { timeout: 30000 });
}

async function download(selector) {
  const [file] = await Promise.all([page.waitForEvent("download"), page.click(selector)]);
  return readFileSync(await file.path());
}

test("the form's installer is saverpack build's of the project it gives, beside the same files, at both levels", async () => {
  await newInstaller(kDemoChoices);
  await previewed();
  // The window follows the choices: the picture made 350 x 150, the licence in its memo.
  assert.equal(await page.textContent(".caption-text"), "Install DemoSaver");
  assert.equal(await page.getAttribute("#install-button", "data-caption"), "Accept and Install");
  assert.equal(await page.inputValue("#memo"), readFileSync(join(root, "demo/licence.txt"), "latin1").replace(/\r\n?/g, "\n"));
  assert.deepEqual(await page.$eval("#picture", (img) => [img.naturalWidth, img.naturalHeight]), [350, 150]);
  assert.match(await page.textContent('[data-field="flash_installer"] .warning'), /has no Flash runtime installer/);
  mkdirSync(join(root, "build/studio"), { recursive: true });
  await page.screenshot({ path: join(root, "build/studio/studio-form.png") });  // the README's

  const beside = tempFolder("studio-form-");
  for (const file of [...Object.values(kDemoChoices), join(root, "demo/readme.txt"), join(root, "demo/bubbles.swf")])
    writeFileSync(join(beside, file.split("/").pop()), readFileSync(file));
  for (const level of ["best", "fast"]) {
    await page.selectOption('#maker [name="level"]', level);
    await previewed();
    await page.click("#build");
    await page.waitForSelector("#download-installer", { timeout: 60000 });
    const installer = await download("#download-installer");
    writeFileSync(join(beside, "DemoSaver.toml"), await download("#download-project"));
    execFileSync(saverpack, ["build", join(beside, "DemoSaver.toml"), "-q", "-o", join(beside, `cli-${level}.exe`)],
                 { stdio: ["ignore", "ignore", "pipe"] });
    assert.ok(installer.equals(readFileSync(join(beside, `cli-${level}.exe`))), `the ${level} build differs`);
    writeFileSync(join(folder, `form-${level}.exe`), installer);
  }
  // Chromium has SIMD: these bytes were packed by that module, and the plain one was not fetched.
  const modules = requested.filter((url) => url.endsWith(".wasm") && !url.includes("/ruffle/")).map((url) => url.split("/").pop());
  assert.deepEqual([...new Set(modules)], ["saverpack-core-simd.wasm"]);
  assert.deepEqual(pageErrors, []);
});

// Build packs in a pool of workers, one a core: the files finish in any order, each is counted
// once, and a picture that does not decode stops the build in the preview's words.
test("Build's progress counts every file once, to the end, and a bad picture is told as the preview tells it", async () => {
  await newInstaller(kDemoChoices);
  await previewed();
  await page.evaluate(() => {
    window.packing = [];
    const state = document.getElementById("build-state");
    new MutationObserver(() => {
      const counts = /Packing (\d+) of (\d+) files/.exec(state.textContent);
      if (counts) window.packing.push([Number(counts[1]), Number(counts[2])]);
    }).observe(state, { childList: true, subtree: true, characterData: true });
  });
  await page.click("#build");
  await page.waitForSelector("#download-installer", { timeout: 60000 });
  // Seven members with bytes of their own, the data file's two entries, and the data file.
  assert.deepEqual(await page.evaluate(() => window.packing), Array.from({ length: 10 }, (_, i) => [i + 1, 10]));

  await page.setInputFiles('#maker [name="content-file"]', join(root, "demo/licence.txt"));
  await previewed();
  const preview = await page.textContent('[data-field="content-file"] .problem');
  await page.click("#build");
  await page.waitForFunction(() => document.getElementById("build-state").textContent.startsWith("Not built"));
  assert.equal(await page.textContent('[data-field="content-file"] .problem'), preview);
  assert.equal(await page.$("#download-installer"), null);
  assert.deepEqual(pageErrors, []);
});

test("the command line's errors stand beside their choices, and no installer is offered", async () => {
  await newInstaller({ ...kDemoChoices, "content-file": join(root, "demo/licence.txt") });
  await page.fill('#maker [name="name"]', "Demo/Saver");
  await previewed();
  assert.match(await page.textContent('[data-field="name"] .problem'), /name "Demo\/Saver" holds a character that a folder name cannot/);
  await page.click("#build");
  await page.waitForFunction(() => document.getElementById("build-state").textContent.startsWith("Not built"));
  assert.equal(await page.$("#download-installer"), null);
  await page.fill('#maker [name="name"]', "DemoSaver");
  await previewed();
  assert.equal(await page.$('[data-field="name"] .problem'), null);
  assert.match(await page.textContent('[data-field="content-file"] .problem'), /licence\.txt: /);
  await page.click("#build");
  await page.waitForFunction(() => document.getElementById("build-state").textContent.startsWith("Not built"));
  assert.equal(await page.$("#download-installer"), null);
  assert.deepEqual(pageErrors, []);
});

test("an opened installer in the form, changed (a new licence, the launcher as uninstall) and built again", async () => {
  await page.goto(address);
  await shown();
  await page.click("#edit-opened");
  await previewed();
  const licence = join(folder, "new-licence.txt");
  writeFileSync(licence, "A new licence.\r\nSecond line.\r\n");
  await page.setInputFiles('#maker [name="license"]', licence);
  await page.selectOption('#maker [name="uninstall"]', "launcher");
  await previewed();
  assert.equal(await page.inputValue("#memo"), "A new licence.\nSecond line.\n");
  await page.click("#build");
  await page.waitForSelector("#download-installer", { timeout: 60000 });
  const rebuilt = join(folder, "rebuilt.exe");
  writeFileSync(rebuilt, await download("#download-installer"));
  assert.equal(verifyWords(rebuilt).code, 0);
  const before = listJson(demo), after = listJson(rebuilt);
  for (const key of ["saver_name", "content_mode", "has_license", "show_document", "open_display_properties"])
    assert.equal(after[key], before[key], key);
  for (const slot of [1, 3, 5, 7, 9, 10])
    assert.deepEqual([after.slots[slot].name, after.slots[slot].file_size, after.slots[slot].destination],
                     [before.slots[slot].name, before.slots[slot].file_size, before.slots[slot].destination], `slot ${slot}`);
  assert.deepEqual([after.slots[4].name, after.slots[4].file_size], ["new-licence.txt", 30]);
  assert.equal(after.slots[6].file_size, readFileSync(join(root, "dist/launcher.exe")).length);
  assert.deepEqual(after.data_file.entries.map((e) => e.name), ["readme.txt", "bubbles.swf", "DemoSaver.scr"]);

  // Opened again and built unchanged: the author's program found behind the launcher, the same bytes.
  await openThroughChooser(rebuilt);
  await page.click("#edit-opened");
  await previewed();
  assert.equal(await page.inputValue('#maker [name="uninstall"]'), "launcher");
  await page.click("#build");
  await page.waitForSelector("#download-installer", { timeout: 60000 });
  assert.ok((await download("#download-installer")).equals(readFileSync(rebuilt)), "built again, it differs");
  assert.deepEqual(pageErrors, []);
});

// What the form's installer is built from stays the studio's own: a stranger's installer whose
// entries are named "../tools/install.exe" and so on, sent to the form (its entries named by their
// last part there), then the same names handed to the worker as they came; afterwards, in the same
// tab, the demo's files build the very bytes `saverpack build` makes of the page's project.
test("entries named as paths to the studio's programs do not replace them: the next build is saverpack build's", async () => {
  const stranger = toolNamedInstaller(join(folder, "stranger"));
  await page.goto(address.split("?")[0]);
  await openThroughChooser(stranger);
  assert.equal(await page.textContent("[data-entry='1'] [data-key='name']"), "../tools/install.exe");
  await page.click("#edit-opened");
  await previewed();
  assert.deepEqual(await page.$eval('#maker [name="entries"]', (input) => [...input.files].map((file) => file.name)),
                   kToolNames);
  await page.setInputFiles('#maker [name="entries"]', kToolNames.map((name) =>
    ({ name: `../tools/${name}`, mimeType: "application/octet-stream", buffer: fakeTool(name) })));
  await previewed();

  await fillForm({ ...kDemoChoices });
  await page.selectOption('#maker [name="uninstall"]', "launcher");
  await previewed();
  await page.click("#build");
  await page.waitForFunction(() => document.getElementById("download-installer") ||
                                   document.getElementById("build-state").textContent.startsWith("Not built"),
                             null, { timeout: 60000 });
  assert.deepEqual(await page.$$eval("#maker .message.problem", (nodes) => nodes.map((n) => n.textContent)), []);
  const installer = await download("#download-installer");
  const beside = tempFolder("studio-tools-");
  for (const file of [...Object.values(kDemoChoices), join(root, "demo/readme.txt"), join(root, "demo/bubbles.swf")])
    writeFileSync(join(beside, file.split("/").pop()), readFileSync(file));
  writeFileSync(join(beside, "DemoSaver.toml"), await download("#download-project"));
  execFileSync(saverpack, ["build", join(beside, "DemoSaver.toml"), "-q", "-o", join(beside, "cli.exe")],
               { stdio: ["ignore", "ignore", "pipe"] });
  assert.ok(installer.equals(readFileSync(join(beside, "cli.exe"))), "the page's build differs from saverpack build's");
  assert.ok(!installer.includes("a stranger's"), "a stranger's program is in the installer");
  assert.deepEqual(pageErrors, []);
});

test("an opened installer downloads as its project in a zip: extract --project's files", async () => {
  await page.goto(address);
  await shown();
  const zip = await download("#project-zip");
  const { unzipSync } = createRequire(import.meta.url)("fflate");
  const files = unzipSync(new Uint8Array(zip));
  const out = tempFolder("studio-zip-");
  execFileSync(saverpack, ["extract", demo, "-C", out, "--project"], { stdio: "ignore" });
  assert.deepEqual(Object.keys(files).sort(), [...extracted(demo).keys()].filter((p) => p !== "DemoSaver.ssd")
    .concat("DemoSaver-Setup.toml").sort());
  for (const [path, bytes] of Object.entries(files))
    assert.ok(Buffer.from(bytes).equals(readFileSync(join(out, path))), path);
});

// ---- the form's other side, its words, files of another kind, the keyboard and screen readers --

// axe-core's findings of impact serious or critical on the page as it is. Its source is evaluated
// in the page by the debugging protocol, which the page's policy (no inline script) does not stop.
const axeSource = readFileSync(createRequire(import.meta.url).resolve("axe-core/axe.min.js"), "utf8");
async function seriousFindings() {
  if (!(await page.evaluate(() => typeof window.axe === "object"))) await page.evaluate(axeSource);
  return page.evaluate(async () => (await window.axe.run(document, { iframes: false, resultTypes: ["violations"] }))
    .violations.filter((v) => v.impact === "serious" || v.impact === "critical")
    .map((v) => `${v.id} (${v.impact}): ${v.nodes.map((n) => n.target.join(" ")).join(", ")}`));
}


test("the form's other side is the choices' own: gone for an opened file, greyed with the reason, the built installer", async () => {
  await page.goto(address);
  await shown();
  await page.click("#new-installer");
  await previewed();
  assert.equal(await page.$("#preview .window"), null, "the opened installer's window beside the form");
  assert.equal(await page.getAttribute("#views", "data-state"), "error");
  await fillForm(kDemoChoices);
  await previewed();
  assert.equal(await page.getAttribute("#views", "data-state"), "current");
  assert.deepEqual(await seriousFindings(), [], "axe-core: the form with files");
  assert.equal(await page.textContent("[data-slot='6'] [data-key='coding']"), "plain");

  await page.setInputFiles('#maker [name="content-file"]', join(root, "demo/licence.txt"));
  await previewed();
  assert.equal(await page.getAttribute("#views", "data-state"), "error");
  for (const note of ["#preview-state", "#facts-state"])
    assert.match(await page.textContent(note), /Picture or movie: licence\.txt: cannot be decoded/, note);
  assert.equal(await page.isVisible("#verdict"), false, "an older verdict beside the error");
  assert.ok(await page.$eval("#preview", (node) => node.inert));

  await page.setInputFiles('#maker [name="content-file"]', kDemoChoices["content-file"]);
  await previewed();
  for (const [width, height] of [[800, 600], [1280, 800]]) {
    await page.setViewportSize({ width, height });
    await page.locator("#build").scrollIntoViewIfNeeded();
    const box = await page.locator("#preview .window").boundingBox();
    assert.ok(box.y >= 0 && box.y + box.height <= height, `${width} x ${height}: the window at ${box.y}..${box.y + box.height}`);
    await page.screenshot({ path: join(root, `build/studio/form-${width}x${height}.png`) });
  }
  await page.setViewportSize({ width: 1280, height: 900 });
  await page.click("#build");
  assert.equal(await page.getAttribute("#views", "data-state"), "working");  // not the preview's facts meanwhile
  const built = join(folder, "other-side.exe");
  writeFileSync(built, await download("#download-installer"));
  await page.waitForFunction(() => document.body.dataset.report === "shown");
  const cells = await page.$$eval("#slots [data-slot] [data-key]", (nodes) =>
    nodes.map((n) => [Number(n.closest("[data-slot]").dataset.slot), n.dataset.key, n.textContent]));
  const list = listJson(built);
  for (const [slot, key, text] of cells) assert.equal(text, String(list.slots[slot][key]), `slot ${slot} ${key}`);
  assert.ok(cells.length > 40);
  assert.notEqual(await page.textContent("[data-slot='6'] [data-key='coding']"), "plain");
  assert.match(await page.textContent("#preview-state"), /The installer that downloads: DemoSaver\.exe/);
  assert.deepEqual(pageErrors, []);
});

test("the form's refusals: one message a cause, named by its field; a UTF-8 licence converted in the page", async () => {
  await newInstaller(kDemoChoices);
  const problems = () => page.$$eval("#maker .message.problem", (nodes) => nodes.map((n) => n.textContent));
  for (const [name, expected] of [["", /^Give the screen saver a name/], ["Demo/Saver", /^name "Demo\/Saver" holds/]]) {
    await page.fill('#maker [name="name"]', name);
    await previewed();
    const found = await problems();
    assert.equal(found.length, 1, found.join("\n"));
    assert.match(found[0], expected);
    const input = await page.$eval('#maker [name="name"]', (node) => [node.getAttribute("aria-invalid"),
      node.getAttribute("aria-describedby").includes(document.querySelector('[data-field="name"] .problem').id)]);
    assert.deepEqual(input, ["true", true]);
    assert.match(await page.textContent("#announce"), /^Name: /);
  }
  await page.fill('#maker [name="name"]', "DemoSaver");
  await page.selectOption('#maker [name="content"]', "flash");
  await page.setInputFiles('#maker [name="content-file"]',
                           { name: "bubbles.png", mimeType: "image/png", buffer: Buffer.from("\x89PNG\r\n\x1a\n\0", "latin1") });
  await previewed();
  assert.deepEqual(await problems(), ["bubbles.png is a PNG picture, not a Flash movie (a movie begins with FWS, " +
                                      "CWS or ZWS): choose “a picture” above to show it, or a .swf movie."]);
  await page.click("#build");
  await page.waitForFunction(() => document.getElementById("build-state").textContent.startsWith("Not built"));
  assert.equal(await page.$("#download-installer"), null);

  await page.selectOption('#maker [name="content"]', "picture");
  await page.setInputFiles('#maker [name="content-file"]', kDemoChoices["content-file"]);
  const text = (value) => ({ name: "licence.txt", mimeType: "text/plain", buffer: Buffer.from(value, "utf8") });
  await page.setInputFiles('#maker [name="license"]', text("a → b\r\n"));
  await previewed();
  assert.match(await page.textContent('[data-field="license"] .warning'), /Windows-1252 has not \(“→”\)/);
  assert.equal(await page.$('[data-field="license"] .convert'), null);
  await page.setInputFiles('#maker [name="license"]', text("Café € and more\r\n"));
  await previewed();
  assert.match(await page.textContent('[data-field="license"] .warning'),
               /^warning: licence\.txt is UTF-8 text, but the installer reads it as Windows-1252: “Café” will show as “CafÃ©”/);
  assert.equal(await page.inputValue("#memo"), "CafÃ© â‚¬ and more\n");
  await page.click('[data-field="license"] .convert');
  await previewed();
  const bytes = await page.$eval('#maker [name="license"]', async (input) => [...new Uint8Array(await input.files[0].arrayBuffer())]);
  assert.deepEqual(Buffer.from(bytes), Buffer.from("Caf\xe9 \x80 and more\r\n", "latin1"));
  assert.equal(await page.inputValue("#memo"), "Café € and more\n");
  assert.equal(await page.$('[data-field="license"] .message'), null);
  assert.deepEqual(pageErrors, []);
});

test("a file of another kind is told so in one line; verify's words carry a name as the command line does", async () => {
  await page.goto(address.split("?")[0]);
  await openThroughChooser("/bin/ls");
  assert.match(await page.textContent("#not-installer"),
               /^ls: not an installer of this format: [\d,]+ bytes, and no payload header at 0x66a00/);
  for (const part of ["#preview-side", "#facts-more", "#verdict details p"])
    assert.equal(await page.isVisible(part), false, part);

  const named = Buffer.from(readFileSync(demo));
  named.write("»emo¬ave\\\0", 420352 + 4, "latin1");  // SaverName, in Windows-1252, with a backslash
  const file = join(folder, "named.exe");
  writeFileSync(file, named);
  await openThroughChooser(file);
  const words = verifyWords(file);
  assert.match(words.problems.join("\n"), /SaverName "»emo¬ave\\"/);
  assert.deepEqual(await page.$$eval("#verdict .problem", (nodes) => nodes.map((n) => n.textContent)), words.problems);
  assert.equal(await page.textContent("[data-key='saver_name']"), "»emo¬ave\\");
});

// Presses key (Tab, Shift+Tab) until what selector names has the focus.
async function tabTo(selector, key = "Tab") {
  for (let i = 0; i < 60; i++) {
    if (await page.evaluate((s) => document.activeElement?.matches(s), selector)) return;
    await page.keyboard.press(key);
  }
  throw new Error(`${key} never reached ${selector}`);
}

test("the keyboard alone opens an installer, plays and closes a movie, and builds one; axe-core on each view", async () => {
  const intercept = () => {};  // choosers are caught from here on, not only once a wait has reached the browser
  page.on("filechooser", intercept);
  await page.goto(address.split("?")[0]);
  await page.waitForFunction(() => document.body.dataset.ready === "1");
  assert.deepEqual(await seriousFindings(), [], "axe-core: the empty page");
  await tabTo("#chooser");
  assert.notEqual(await page.$eval("label.choose", (label) => getComputedStyle(label).outlineStyle), "none");
  await page.evaluate(() => { document.body.dataset.report = ""; });
  const [opening] = await Promise.all([page.waitForEvent("filechooser"), page.keyboard.press("Enter")]);
  await opening.setFiles(demo);
  await shown();
  assert.deepEqual(await seriousFindings(), [], "axe-core: an opened installer");
  await tabTo("[data-entry='2'] .play");
  await page.keyboard.press("Enter");
  await page.waitForSelector("#player-stage iframe");
  assert.deepEqual(await seriousFindings(), [], "axe-core: the player");
  await page.keyboard.press("Escape");
  assert.ok(await page.isHidden("#player-box"));
  assert.equal(await page.evaluate(() => document.activeElement.getAttribute("aria-label")), "Play bubbles.swf");

  await tabTo("#new-installer", "Shift+Tab");
  await page.keyboard.press("Enter");
  await tabTo('#maker [name="name"]');
  await page.keyboard.press("Control+A");
  await page.keyboard.type("KeySaver");
  for (const field of ["program", "content-file", "license"]) {
    await tabTo(`#maker [name="${field}"]`);
    const [choosing] = await Promise.all([page.waitForEvent("filechooser"), page.keyboard.press("Space")]);
    await choosing.setFiles(kDemoChoices[field]);
  }
  await tabTo("#build");
  await page.keyboard.press("Enter");
  await page.waitForSelector("#download-installer", { timeout: 60000 });
  const built = join(folder, "KeySaver.exe");
  writeFileSync(built, await download("#download-installer"));
  assert.equal(verifyWords(built).code, 0);
  assert.equal(listJson(built).saver_name, "KeySaver");
  assert.deepEqual(pageErrors, []);
  page.off("filechooser", intercept);
});

test("outside its server: as a file the page says to serve it; a restarted studio's old tab says to open the new address", async () => {
  await page.goto(`file://${join(dist, "studio/index.html")}`);
  assert.ok(await page.isVisible("#not-served"));
  assert.match(await page.textContent("#not-served"), /saverpack studio/);

  const first = await startStudio(demo);
  servers.add(new URL(first.address).origin);
  await page.goto(first.address.split("?")[0]);
  await page.waitForFunction(() => document.body.dataset.ready === "1");
  first.child.kill("SIGINT");
  await once(first.child, "exit");
  const second = await startStudio(demo, saverpack, null, ["--port", new URL(first.address).port]);
  servers.add(new URL(second.address).origin);
  try {
    await fillForm(kDemoChoices);  // in the tab of the first run
    await previewed();
    assert.match(await page.textContent("#page-error"), /^The studio was restarted.*open the new address/);
    assert.doesNotMatch(await page.textContent("#maker"), /tools\/install\.exe/);
  } finally {
    second.child.kill("SIGINT");
  }
});

// The form's installer installs under Wine: built here with the 64-bit build's programs served
// beside saverpack (64-bit Wine runs them on every machine), saved in build/studio, and run by the
// end-to-end suite after these tests (scripts/test).
test("the form builds an installer from a .scr and a PNG with the 64-bit programs, for the end-to-end suite to install", async () => {
  const tools = tempFolder("studio-win64-");
  for (const name of ["install.exe", "impborl.dll", "launcher.exe"]) copyFileSync(join(dist, "win64", name), join(tools, name));
  copyFileSync(saverpack, join(tools, "saverpack"));
  chmodSync(join(tools, "saverpack"), 0o755);
  symlinkSync(join(dist, "studio"), join(tools, "studio"));
  const { child, address: other } = await startStudio(demo, join(tools, "saverpack"));
  servers.add(new URL(other).origin);
  try {
    // As an author comes: a .scr and a PNG (the demo's picture made one), with the demo's other files.
    const png = join(tools, "bubbles.png");
    execFileSync("/usr/bin/convert", [join(root, "demo/picture.bmp"), png]);  // ImageMagick, from set-up
    await newInstaller({ ...kDemoChoices, program: join(dist, "win64/DemoSaver.scr"), "content-file": png }, other);
    await page.uncheck('#maker [name="open_display_properties"]');
    await previewed();
    // The window before the build: the PNG made the 350 x 150 bitmap of the window's box.
    assert.deepEqual(await page.$eval("#picture", (img) => [img.naturalWidth, img.naturalHeight]), [350, 150]);
    assert.equal(await page.textContent(".caption-text"), "Install DemoSaver");
    await page.click("#build");
    await page.waitForSelector("#download-installer", { timeout: 60000 });
    const installer = await download("#download-installer");
    mkdirSync(join(root, "build/studio"), { recursive: true });
    const saved = join(root, "build/studio/page-built-win64.exe");
    writeFileSync(saved, installer);
    execFileSync(saverpack, ["verify", saved], { stdio: ["ignore", "ignore", "pipe"] });
    assert.ok(installer.subarray(0, 420352).equals(readFileSync(join(dist, "win64/install.exe"))));
  } finally {
    child.kill("SIGINT");
  }
  assert.deepEqual(pageErrors, []);
});

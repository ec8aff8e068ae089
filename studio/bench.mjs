// The studio's figures (not a test): opening and verifying installers in the page, in headless
// Chromium, beside `saverpack verify` of the same files; and building projects with the page's
// New installer form beside `saverpack build` of the project the page gives, beside the same
// files. Usage: node studio/bench.mjs FILE... [--build NAME=FIELD:PATH,FIELD:PATH...]...
// Prints one line per file, medians of 5: the page's worker checking and listing the file (reading
// what the report needs of it), the page from the file chosen to everything shown, `saverpack
// verify` (a process reading and checking it) and `list --json`, and the ratios of both to verify.
// For each project: the page's build (the files copied into the worker's module, then packed by
// its pool of workers, one a core the browser reports), `saverpack build` on one core (taskset)
// and on every core, and the ratios.
import { execFileSync } from "node:child_process";
import { mkdtempSync, readFileSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { basename, join } from "node:path";

import { chromium } from "playwright-core";

import { saverpack } from "./tests/fixtures.mjs";

const median = (values) => [...values].sort((a, b) => a - b)[values.length >> 1];

function commandSeconds(...args) {
  const times = [];
  for (let i = 0; i < 5; i++) {
    const started = process.hrtime.bigint();
    execFileSync(saverpack, args, { stdio: "ignore" });
    times.push(Number(process.hrtime.bigint() - started) / 1e9);
  }
  return median(times);
}

function buildSeconds(project, oneCore) {
  const times = [];
  for (let i = 0; i < 5; i++) {
    const started = process.hrtime.bigint();
    const args = ["build", "-q", project, "-o", `${project}.exe`];
    if (oneCore) execFileSync("taskset", ["-c", "0", saverpack, ...args], { stdio: "ignore" });
    else execFileSync(saverpack, args, { stdio: "ignore" });
    times.push(Number(process.hrtime.bigint() - started) / 1e9);
  }
  return median(times);
}

// One project through the form: its files chosen, built five times in the page, then the same
// project built by saverpack beside copies of the same files (which must give the same bytes).
async function buildFigures(page, build) {
  const [name, list] = build.split("=");
  const choices = list.split(",").map((pair) => pair.split(":"));
  await page.goto(address);
  await page.click("#new-installer");
  await page.fill('#maker [name="name"]', name);
  await page.selectOption('#maker [name="uninstall"]', "program");
  const entries = choices.filter(([field]) => field === "entries").map(([, path]) => path);
  for (const [field, path] of choices) if (field !== "entries") await page.setInputFiles(`#maker [name="${field}"]`, path);
  if (entries.length) await page.setInputFiles('#maker [name="entries"]', entries);
  await page.waitForFunction(() => document.body.dataset.preview === "shown", null, { timeout: 120000 });
  const inPage = [], checked = [];
  let installer = null;
  for (let i = 0; i < 5; i++) {
    await page.click("#build");
    await page.waitForSelector("#download-installer", { timeout: 300000 });
    const [builtMs, checkedMs] = await page.evaluate(() => [document.body.dataset.builtMs, document.body.dataset.checkedMs]);
    inPage.push(Number(builtMs) / 1000);
    checked.push(Number(checkedMs) / 1000);
    if (!installer) {
      const [download] = await Promise.all([page.waitForEvent("download"), page.click("#download-installer")]);
      installer = readFileSync(await download.path());
    }
  }
  const beside = mkdtempSync(join(tmpdir(), "studio-bench-build-"));
  const [project] = await Promise.all([page.waitForEvent("download"), page.click("#download-project")]);
  writeFileSync(join(beside, `${name}.toml`), readFileSync(await project.path()));
  for (const [, path] of choices) writeFileSync(join(beside, basename(path)), readFileSync(path));
  const one = buildSeconds(join(beside, `${name}.toml`), true);
  const all = buildSeconds(join(beside, `${name}.toml`), false);
  const same = installer.equals(readFileSync(join(beside, `${name}.toml.exe`)));
  const worker = median(inPage);
  const cores = await page.evaluate(() => navigator.hardwareConcurrency);
  console.log(`${name} (${installer.length} bytes${same ? ", the same bytes as saverpack build" : ", NOT THE SAME BYTES"}): ` +
              `built in the page (its workers on ${cores} cores) ${worker.toFixed(3)} s; saverpack build on one core ${one.toFixed(3)} s ` +
              `(ratio ${(worker / one).toFixed(2)}), on every core ${all.toFixed(3)} s (ratio ${(worker / all).toFixed(2)}); ` +
              `then checked for the page's report in ${median(checked).toFixed(3)} s`);
}

const args = process.argv.slice(2);
const files = args.filter((arg, i) => arg !== "--build" && args[i - 1] !== "--build");
const builds = args.filter((arg, i) => args[i - 1] === "--build");
const server = (await import("node:child_process")).spawn(saverpack, ["studio", "--no-open"], { stdio: ["ignore", "pipe", "ignore"] });
const address = await new Promise((resolve) => {
  let out = "";
  server.stdout.on("data", (chunk) => {
    out += chunk;
    const found = out.match(/Studio: (\S+)/);
    if (found) resolve(found[1]);
  });
});
const context = await chromium.launchPersistentContext(mkdtempSync(join(tmpdir(), "studio-bench-")), {
  executablePath: process.env.STUDIO_CHROMIUM || "/usr/bin/chromium", headless: true,
  args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync"],
});
try {
  const page = context.pages()[0] || (await context.newPage());
  page.on("download", () => {});
  await page.goto(address);
  for (const file of files) {
    const opened = [], shown = [];
    for (let i = 0; i < 5; i++) {
      await page.evaluate(() => { document.body.dataset.report = ""; });
      await page.setInputFiles("#chooser", file);
      await page.waitForSelector('body[data-report="shown"]', { state: "attached", timeout: 120000 });
      const times = await page.evaluate(() => [document.body.dataset.openedMs, document.body.dataset.shownMs]);
      opened.push(Number(times[0]) / 1000);
      shown.push(Number(times[1]) / 1000);
    }
    const inWorker = median(opened), inPage = median(shown), native = commandSeconds("verify", file);
    const listed = commandSeconds("list", "--json", file);
    console.log(`${basename(file)}: opened and verified in the page's worker ${inWorker.toFixed(3)} s ` +
                `(ratio ${(inWorker / native).toFixed(2)}), chosen to shown ${inPage.toFixed(3)} s ` +
                `(ratio ${(inPage / native).toFixed(2)}); saverpack verify ${native.toFixed(3)} s, ` +
                `list --json ${listed.toFixed(3)} s`);
  }
  for (const build of builds) await buildFigures(page, build);
} finally {
  await context.close();
  server.kill("SIGINT");
}

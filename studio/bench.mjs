// The studio's figures (not a test): opening and verifying installers in the page, in headless
// Chromium, beside `saverpack verify` of the same files. Usage: node studio/bench.mjs FILE...
// Prints one line per file, medians of 5: the page's worker reading, checking and listing the
// file, the page from the file chosen to everything shown, `saverpack verify` (a process reading
// and checking it), and the ratios of both to verify.
import { execFileSync } from "node:child_process";
import { mkdtempSync } from "node:fs";
import { tmpdir } from "node:os";
import { basename, join } from "node:path";

import { chromium } from "playwright-core";

import { saverpack } from "./tests/fixtures.mjs";

const median = (values) => [...values].sort((a, b) => a - b)[values.length >> 1];

function verifySeconds(file) {
  const times = [];
  for (let i = 0; i < 5; i++) {
    const started = process.hrtime.bigint();
    execFileSync(saverpack, ["verify", file], { stdio: "ignore" });
    times.push(Number(process.hrtime.bigint() - started) / 1e9);
  }
  return median(times);
}

const files = process.argv.slice(2);
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
    const inWorker = median(opened), inPage = median(shown), native = verifySeconds(file);
    console.log(`${basename(file)}: opened and verified in the page's worker ${inWorker.toFixed(3)} s ` +
                `(ratio ${(inWorker / native).toFixed(2)}), chosen to shown ${inPage.toFixed(3)} s ` +
                `(ratio ${(inPage / native).toFixed(2)}); saverpack verify ${native.toFixed(3)} s`);
  }
} finally {
  await context.close();
  server.kill("SIGINT");
}

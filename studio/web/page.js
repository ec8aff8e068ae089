// The studio page: opens an installer through the worker, draws its window as the installer
// would and shows what it holds; or builds one in the New installer form. Every fact comes from
// saverpack's core in the worker; the page only lays them out. The parts, each a module:
// client.js (the worker), window-view.js (the window), facts.js (verify and list's facts),
// views.js (which report is on show, or why none), movies.js (the player), form.js and
// form-checks.js (the New installer form), opened-project.js (an opened installer as a project).
import { Refused, ask, fetchOwn } from "./client.js";
import { $, hidePageError, showPageError } from "./dom.js";
import { hideForm, showForm } from "./form.js";
import { setOpened } from "./opened-project.js";
import { show } from "./views.js";
import { loadLayouts } from "./window-view.js";

let openId = 0;  // the open whose report the page shows: a later one makes an earlier one's moot

// The worker reads and checks in one go, as the model asks for the file's ranges: no share of it
// to show, only that it works.
function showChecking() {
  const bar = $("progress");
  bar.hidden = false;
  bar.removeAttribute("value");
  $("stage").textContent = "Checking…";
}

async function openFile(blob, name) {
  const begun = performance.now();
  const id = ++openId;
  // The shown file's buttons would ask for the bytes of the one being read: off until it shows.
  for (const button of document.querySelectorAll("button.download, button.play")) button.disabled = true;
  hideForm();  // what the other side shows is this file now, not the form's choices
  $("file-name").textContent = name;
  $("hint").hidden = true;
  hidePageError();
  try {
    await loadLayouts();
    const answer = await ask({ type: "open", file: blob }, () => id === openId && showChecking());
    if (id !== openId) return;
    await show(answer.report, name, "opened");
    setOpened(answer.report, name);
    $("stage").textContent = `Read and checked in ${Math.round(answer.ms)} ms`;
    document.body.dataset.openedMs = String(answer.ms);  // in the worker: read, checked, listed
    document.body.dataset.shownMs = String(performance.now() - begun);  // and shown
  } catch (error) {
    if (id !== openId) return;
    showPageError(`${name}: ${error.message}`);
    $("stage").textContent = "";
  } finally {
    if (id === openId) $("progress").hidden = true;
  }
}

async function openFromServer(name) {
  try {
    const response = await fetchOwn(`open/${encodeURIComponent(name)}`);
    await openFile(await response.blob(), name);
  } catch (error) {
    if (!(error instanceof Refused)) showPageError(`${name}: ${error.message}`);
  }
}

$("chooser").addEventListener("change", (event) => {
  const file = event.target.files[0];
  if (file) openFile(file, file.name);
  event.target.value = "";
});
document.addEventListener("dragover", (event) => {
  event.preventDefault();
  document.body.classList.add("dragging");
});
document.addEventListener("dragleave", () => document.body.classList.remove("dragging"));
document.addEventListener("drop", (event) => {
  event.preventDefault();
  document.body.classList.remove("dragging");
  const file = event.dataTransfer.files[0];
  if (file) openFile(file, file.name);
});
$("new-installer").addEventListener("click", () => {
  openId++;  // a file still being read is no longer wanted on show
  showForm(true);
});

window.addEventListener("unhandledrejection", (event) => showPageError(String(event.reason)));
document.body.dataset.started = "1";
loadLayouts().then(() => { document.body.dataset.ready = "1"; });  // the worker and its module are up
const opened = new URLSearchParams(location.search).get("open");
if (opened) openFromServer(opened);

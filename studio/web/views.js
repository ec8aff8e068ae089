// The right-hand side: the window and the facts of one report, and which report that is (an
// opened file, the form's preview, the form's built installer). While the form's choices are in
// error, or the module works on them, each part says so, greyed, with the reason, rather than
// show an older result as if it were the choices' own; a result of something else than the form
// (an opened installer) is not shown greyed beside the form at all, but taken away.
import { $, element } from "./dom.js";
import { showDataFile, showNotInstaller, showOptions, showSlots, showVerdict } from "./facts.js";
import { closePlayer } from "./movies.js";
import { clearWindow, showWindow } from "./window-view.js";

let shownKind = "";  // the report on show: "opened", "preview", "built", or "" for none

function setNote(id, text, busy = false, lines = []) {
  const note = $(id);
  note.replaceChildren();
  note.hidden = !text;
  if (busy) note.append(element("span", { class: "busy", "aria-hidden": "true" }));
  if (text) note.append(element("span", { text }));
  for (const line of lines) note.append(element("p", { class: "problem", text: line }));
}

function setState(state, kind) {
  const views = $("views");
  views.hidden = false;
  views.dataset.state = state;
  views.setAttribute("aria-busy", String(state === "working"));
  for (const part of views.querySelectorAll(".drawn")) part.inert = state !== "current";
  if (kind !== undefined) views.dataset.kind = kind;
}

// Nothing older than the form's own results stands beside it.
function clearOthers() {
  if (shownKind === "preview" || shownKind === "built" || shownKind === "") return;
  clearFacts();
}

function clearFacts() {
  closePlayer();
  clearWindow();
  for (const id of ["verdict", "options", "data-file", "uninstall", "signature"]) $(id).replaceChildren();
  $("slots").tBodies[0].replaceChildren();
  $("project-actions").hidden = true;
  shownKind = "";
}

const kStale = "These are the last preview's, not the choices now on the form.";

// The module is at work on the form's choices (what: the words for it).
export function showWorking(what) {
  clearOthers();
  setState("working", "installer");
  setNote("preview-state", what, true);
  setNote("facts-state", what, true);
  setNote("slots-state", shownKind ? kStale : "");
}

// The form's choices make no installer: why, in one line each.
export function showRefused(reasons) {
  clearOthers();
  setState("error", "installer");
  const head = "Not what the installer will be: the choices on the form cannot make one.";
  setNote("preview-state", head, false, reasons);
  setNote("facts-state", "Not checked: the choices on the form cannot make an installer.", false, reasons);
  setNote("slots-state", shownKind ? kStale : "");
}

// A report on show: kind as shownKind has them, note what it is in words (for the form's).
export async function show(report, name, kind, note = "") {
  closePlayer();
  document.body.dataset.report = "loading";
  shownKind = kind;
  if (kind !== "opened") $("project-actions").hidden = true;  // the form's report is no opened installer
  setState("current", report.not_installer ? "foreign" : "installer");
  setNote("preview-state", note);
  setNote("facts-state", "");
  setNote("slots-state", "");
  if (report.not_installer) {
    clearWindow();
    showNotInstaller(report, name);
  } else {
    showVerdict(report);
    showOptions(report.list);
    showSlots(report);
    showDataFile(report);
    $("uninstall").textContent = report.uninstall || "";
    $("signature").textContent = report.signature || "";
    await showWindow(report);
  }
  document.title = `${name} — studio`;
  document.body.dataset.report = "shown";
}

// An opened installer as a project: its choices in the New installer form (Edit), or what
// `saverpack extract --project` writes, zipped in the worker (Download as a project).
import { ask, bytesOf } from "./client.js";
import { $, saveBytes, showPageError } from "./dom.js";
import { fileEntry } from "./facts.js";
import { putFiles, showForm } from "./form.js";

const kFieldSlots = { flash_installer: 2, "content-file": 3, license: 4, document: 5, program: 6, extra: 7,
                      library1: 9, library2: 10 };
let opened = null;  // the installer opened last: {report, name}

// The installer on show, or null when what is on show has no project (a damaged or foreign file).
export function setOpened(report, name) {
  opened = report.list && report.problems.length === 0 ? { report, name } : null;
  $("project-actions").hidden = !opened;
  if (!opened) return;
  $("edit-opened").setAttribute("aria-label", `Edit in the New installer form: ${name}`);
  $("project-zip").setAttribute("aria-label", `Download as a project (.zip): ${name}`);
}

// A name from an opened installer as the form's file is named: its last part, as the installer
// writes an entry (a name such as "../tools/install.exe" must not become a path in the worker).
function lastPart(name) {
  return String(name).split(/[\\/]/).pop();
}

// The opened installer's choices in the form: its name, options and files (the slots saverpack
// fills in left to it again), ready to change and build.
async function editOpened() {
  const { report } = opened;
  const list = report.list;
  const form = $("maker");
  form.elements.name.value = list.saver_name;
  form.elements["codec-name"].value = list.slots[1].empty ? "" : list.slots[1].name;
  form.elements["codec-destination"].value = list.slots[1].empty ? "" : String(list.slots[1].destination);
  form.elements.content.value = { 1: "picture", 2: "flash", 3: "flash", 4: "silent" }[list.content_mode] || "none";
  form.elements.open_display_properties.checked = list.open_display_properties !== 0;
  // Built with our launcher: the author's program is the file the launcher runs (slot 7 or an
  // entry), and the form's program field gets it again.
  const launched = /slot 6 is the screen-saver launcher.*\((slot 7|data-file entry (\d+))\)$/.exec(report.uninstall || "");
  form.elements.uninstall.value = launched ? "launcher" : "program";
  for (const [field, slot] of Object.entries(kFieldSlots)) {
    const from = launched && field === "program" ? (launched[2] ? null : 7) : launched && field === "extra" && !launched[2] ? 0 : slot;
    const record = from ? list.slots[from] : null;
    const input = form.elements[field];
    delete input.dataset.kept;
    let file = record && !record.empty && !record.same_bytes_as ? fileEntry(report, "slot", from) : null;
    if (launched && launched[2] && field === "program") file = fileEntry(report, "entry", Number(launched[2]));
    putFiles(input, file ? [new File([await bytesOf(file)], lastPart(file.name || record.name))] : []);
    if (file && field !== "program") input.dataset.kept = "1";
  }
  const entries = [];
  for (const entry of (list.data_file && list.data_file.entries) || []) {
    if (launched && Number(launched[2]) === entry.index) continue;  // the program, in its field
    const file = fileEntry(report, "entry", entry.index);
    if (file && !file.problem) entries.push(new File([await bytesOf(file)], lastPart(entry.name)));
  }
  putFiles(form.elements.entries, entries);
  showForm(false);
}

async function projectZip() {
  const { name } = opened;
  const stem = name.replace(/\.[^.]*$/, "") || "installer";
  try {
    const answer = await ask({ type: "project", name, stem });
    if (!answer.zip) throw new Error(answer.problems.join("; "));
    saveBytes(answer.zip, `${stem}-project.zip`, "application/zip");
  } catch (error) {
    showPageError(`${name}: ${error.message}`);
  }
}

$("edit-opened").addEventListener("click", () => editOpened().catch((error) => showPageError(error.message)));
$("project-zip").addEventListener("click", projectZip);

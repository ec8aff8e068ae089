// The New installer form. The form is written as a project file, the very file the download
// gives; the worker builds it with saverpack's own code (stored plain for the preview, as chosen
// for Build), and whatever the command line says comes back beside its choice, once, in the
// field's name. The other side shows the result of the choices now on the form, or why there is
// none (views.js).
import { ask } from "./client.js";
import { $, announce, element, grouped } from "./dom.js";
import { checkForm } from "./form-checks.js";
import { show, showRefused, showWorking } from "./views.js";

export const kFileFields = ["program", "content-file", "license", "document", "extra", "library1", "library2",
                            "flash_installer"];
const kSlotOf = { "content-file": "content" };
const kLabels = {
  name: "Name", content: "The window shows", program: "Screen-saver program", "content-file": "Picture or movie",
  license: "Licence", document: "Document", extra: "Further file", library1: "First library",
  library2: "Second library", flash_installer: "Flash runtime installer", entries: "Data file's entries",
  open_display_properties: "Display Properties", uninstall: "Uninstall", level: "Level", codec: "Codec",
  general: "The installer",
};
const kPreviewNote = "A preview: the files are stored plain here; Build implodes them (the slots' coding and " +
                     "stored sizes change).";

const form = $("maker");
let version = 0;       // the form's changes, so that an older answer never replaces a newer one
let sideSeq = 0;       // the requests for the other side: only the latest one's answer is shown
let previewTimer = 0;
let building = false;
let builtUrls = [];

function tomlQuoted(text) {
  return `"${text.replace(/[\\"]/g, (c) => `\\${c}`)
    .replace(/[\u0000-\u001f\u007f]/g, (c) => `\\u${c.charCodeAt(0).toString(16).padStart(4, "0")}`)}"`;
}

function projectStem(name) {
  return /^[^\\/:*?"<>|\u0000-\u001f]{1,64}$/.test(name) && !/^[. ]|[. ]$/.test(name) ? name : "saver";
}

// The form as a project: its text, the line each choice is written on, the files by path.
function makerProject() {
  const value = (name) => form.elements[name].value;
  const lines = [];
  const fieldOfLine = [];
  const files = [];
  const fieldOfPath = new Map();
  const line = (text, field) => { lines.push(text); fieldOfLine.push(field); };
  const usedPaths = new Set();
  const pathFor = (file, field) => {
    let path = file.name;
    for (let n = 2; usedPaths.has(path.toLowerCase()); n++)
      path = file.name.replace(/(\.[^.]*)?$/, (ext) => ` (${n})${ext || ""}`);
    usedPaths.add(path.toLowerCase());
    files.push({ path, key: `${file.name}:${file.size}:${file.lastModified}`, blob: file });
    fieldOfPath.set(path, field);
    return path;
  };
  const name = value("name");
  const content = value("content");
  line(`# The ${name} screen saver's installer, made in the studio: saverpack build ${projectStem(name)}.toml`, "general");
  line(`name = ${tomlQuoted(name)}`, "name");
  line(`content = "${content}"`, "content");
  line(`open_display_properties = ${form.elements.open_display_properties.checked}`, "open_display_properties");
  line(`uninstall = "${value("uninstall")}"`, "uninstall");
  line(`level = "${value("level")}"`, "level");
  if (value("codec-name")) {
    // An opened installer's codec slot as it was, holding the codec beside saverpack.
    line("", "codec");
    line("[files.codec]", "codec");
    line(`name = ${tomlQuoted(value("codec-name"))}`, "codec");
    line(`destination = ${Number(value("codec-destination"))}`, "codec");
  }
  for (const field of kFileFields) {
    const file = form.elements[field].files[0];
    if (!file) continue;
    const slot = kSlotOf[field] || field;
    line("", field);
    line(`[files.${slot}]`, field);
    line(`path = ${tomlQuoted(pathFor(file, field))}`, field);
    if (field === "content-file" && content === "flash") line(`name = "installer.scf"  # where the window finds its movie`, field);
    else if (form.elements[field].dataset.kept) line(`name = ${tomlQuoted(file.name)}  # as the opened installer has it`, field);
  }
  const entries = [...form.elements.entries.files];
  if (entries.length) {
    line("", "entries");
    line("[data]", "entries");
    for (const file of entries) {
      line("[[data.entries]]", "entries");
      line(`name = ${tomlQuoted(file.name)}`, "entries");
      line(`path = ${tomlQuoted(pathFor(file, "entries"))}`, "entries");
    }
  }
  return { text: `${lines.join("\n")}\n`, name, stem: projectStem(name), fieldOfLine, files, fieldOfPath };
}

// The field a line of the command line's is about: by the project's line, by a file's path, by
// the slot it names; "general" when none.
function fieldOf(project, text) {
  const file = `${project.stem}.toml`;
  const at = text.startsWith(`${file}:`) ? /^[^:]*:(\d+): (.*)$/.exec(text) : null;
  const slotField = (slot) => Object.keys(kSlotOf).find((f) => kSlotOf[f] === slot) || slot;
  const needs = /\[files\.(\w+)\]/.exec(text);
  if (at) {
    if (at[1] === "1" && needs) return slotField(needs[1]);
    return project.fieldOfLine[Number(at[1]) - 1] || "general";
  }
  for (const [path, field] of project.fieldOfPath) if (text.startsWith(`${path}:`)) return field;
  if (text.includes("Flash runtime installer")) return "flash_installer";
  if (text.includes("not a Windows program")) return "program";
  return needs ? slotField(needs[1]) : "general";
}

// A line of the command line's without the project file the author never sees: "X.toml:8: " and
// "X.toml: " go, "X.toml has ..." is said of the installer.
function withoutProjectFile(project, text) {
  const file = `${project.stem}.toml`;
  if (!text.startsWith(file)) return text;
  const rest = text.slice(file.length).replace(/^:\d+: |^: /, "");
  return rest.startsWith(" ") ? `the installer${rest}` : rest;
}

// The command line's words as the form's: one per cause, by field. A name in error makes every
// file named after it wrong too ("the payload name of program ("Demo/Saver.scr") ..."): those
// lines go, the name's own says it.
function moduleMessages(project, answer) {
  if (!answer) return [];
  const out = [...answer.problems.map((text) => ({ text, cls: "problem" })),
               ...answer.warnings.map((text) => ({ text, cls: "warning" }))]
    .map(({ text, cls }) => ({ field: fieldOf(project, text), cls, text: withoutProjectFile(project, text) }));
  const nameWrong = out.some((m) => m.field === "name" && m.cls === "problem");
  const named = [`${project.name}.scr`, `${project.name}.ssd`];
  const knockOn = (m) => nameWrong && m.field !== "name" && named.some((n) => m.text.includes(n));
  return out.filter((m) => !knockOn(m));
}

// The form's own words and the module's, without repeats; a field the page found in error keeps
// the page's words only.
function merged(own, module) {
  const ownFields = new Set(own.filter((m) => m.cls === "problem").map((m) => m.field));
  const seen = new Set();
  return [...own, ...module.filter((m) => !ownFields.has(m.field))].filter((m) => {
    const key = `${m.field}\n${m.cls}\n${m.text}`;
    return !seen.has(key) && seen.add(key);
  });
}

const labelled = (m) => `${kLabels[m.field] || kLabels.general}: ${m.text}`;
const problemsOf = (messages) => messages.filter((m) => m.cls === "problem");

function describe(field, ids) {
  const input = field.querySelector("input:not([type=hidden]), select");
  if (!input) return;
  const hint = field.querySelector(".hint");
  if (hint && !hint.id) hint.id = `hint-${field.dataset.field}`;
  const all = [hint?.id, ...ids.map((m) => m.id)].filter(Boolean);
  if (all.length) input.setAttribute("aria-describedby", all.join(" "));
  else input.removeAttribute("aria-describedby");
  if (ids.some((m) => m.cls === "problem")) input.setAttribute("aria-invalid", "true");
  else input.removeAttribute("aria-invalid");
}

function convertButton(field, convert) {
  const input = form.elements[field];
  return element("button", { type: "button", class: "convert", text: "Convert to Windows-1252",
    "aria-label": `Convert ${convert.file.name} to Windows-1252`,
    onclick: () => {
      putFiles(input, [new File([convert.bytes], convert.file.name, { type: convert.file.type })]);
      input.focus();
      announce(`${convert.file.name} converted to Windows-1252.`);
      makerChanged();
    } });
}

// The messages beside their fields, tied to them for screen readers, and said once.
function showMessages(messages) {
  for (const old of form.querySelectorAll(".message")) old.remove();
  let n = 0;
  const byField = new Map();
  for (const m of messages) {
    let field = form.querySelector(`[data-field="${m.field}"]`);
    if (!field || field.hidden) field = form.querySelector('[data-field="general"]');  // the codec's is hidden
    const id = `message-${++n}`;
    const node = element("span", { class: `message ${m.cls}`, id,
                                   text: m.cls === "warning" ? `warning: ${m.text}` : m.text });
    if (m.convert) node.append(" ", convertButton(m.field, m.convert));
    field.append(node);
    byField.set(field, [...(byField.get(field) || []), { id, cls: m.cls }]);
  }
  for (const field of form.querySelectorAll("[data-field]")) describe(field, byField.get(field) || []);
  form.dataset.problems = String(problemsOf(messages).length);
  announce(messages.length ? messages.map(labelled).join(" ") : "No problems with the choices.");
}

function clearDownloads() {
  for (const url of builtUrls) URL.revokeObjectURL(url);
  builtUrls = [];
  $("downloads").replaceChildren();
}

function offer(bytes, name, id, text) {
  const url = URL.createObjectURL(new Blob([bytes], { type: "application/octet-stream" }));
  builtUrls.push(url);
  $("downloads").append(element("a", { href: url, download: name, id, text }));
}

function busyState(text) {
  $("build-state").replaceChildren(element("span", { class: "busy", "aria-hidden": "true" }), text);
}

// Every change: the downloads go (they no longer match the form), the other side says it is at
// work, and a quick build stored plain shows the window and what the installer will hold.
export function makerChanged() {
  version++;
  clearDownloads();
  clearTimeout(previewTimer);
  for (const message of form.querySelectorAll(".message")) message.classList.add("outdated");
  if (!building) busyState("Checking the choices…");
  showWorking("Making the preview of the choices now on the form…");
  document.body.dataset.preview = "waiting";
  previewTimer = setTimeout(preview, 250);
}

// The page's checks, then the module's build of the form's project unless the name is missing
// (every file is named after it: the module would only repeat that).
async function checkAndBuild(project, plain, progress) {
  const own = await checkForm(form);
  if (own.some((m) => m.field === "name" && m.cls === "problem")) return { messages: merged(own, []), answer: null };
  const answer = await ask({ type: "build", files: project.files, project: project.text,
                             name: `${project.stem}.toml`, fast: plain, plain }, progress);
  return { messages: merged(own, moduleMessages(project, answer)), answer };
}

async function preview() {
  const at = version, seq = ++sideSeq;
  const project = makerProject();
  document.body.dataset.preview = "building";
  try {
    const { messages, answer } = await checkAndBuild(project, true);
    if (at !== version) return;
    showMessages(messages);
    if (!building) $("build-state").textContent = "";
    if (seq !== sideSeq) return;
    const problems = problemsOf(messages);
    if (problems.length || !answer?.report) showRefused(problems.map(labelled));
    else await show(answer.report, `${project.stem}.exe`, "preview", kPreviewNote);
  } catch (error) {
    if (at !== version) return;
    showMessages([{ field: "general", cls: "problem", text: error.message }]);
    if (seq === sideSeq) showRefused([error.message]);
  } finally {
    if (at === version) document.body.dataset.preview = "shown";
  }
}

function showPacking(message) {
  const bar = $("build-progress");
  bar.hidden = false;
  bar.max = Math.max(1, message.total);
  bar.value = message.done;
  busyState(`Packing ${message.done} of ${message.total} files…`);
}

async function buildFromForm() {
  if (building) return;
  building = true;
  const at = version, seq = ++sideSeq;
  clearTimeout(previewTimer);  // the build checks all that the preview would
  const project = makerProject();
  clearDownloads();
  $("build").setAttribute("aria-disabled", "true");
  busyState("Building…");
  showWorking("Building the installer…");
  try {
    const { messages, answer } = await checkAndBuild(project, false, showPacking);
    if (at !== version) return;
    showMessages(messages);
    const problems = problemsOf(messages);
    if (!answer?.bytes || problems.length) {
      $("build-state").textContent = "Not built: see the choices marked in red.";
      if (seq === sideSeq) showRefused(problems.map(labelled));
      return;
    }
    const size = grouped(answer.bytes.length);
    offer(answer.bytes, `${project.stem}.exe`, "download-installer", `Download ${project.stem}.exe (${size} bytes)`);
    offer(new TextEncoder().encode(project.text), `${project.stem}.toml`, "download-project",
          `Download ${project.stem}.toml, the project`);
    $("build-state").textContent = `Built in ${Math.round(answer.ms)} ms`;
    document.body.dataset.builtMs = String(answer.ms);
    document.body.dataset.checkedMs = String(answer.checkMs);
    announce(`Built ${project.stem}.exe, ${size} bytes: its download follows the Build button.`);
    if (seq === sideSeq)
      await show(answer.report, `${project.stem}.exe`, "built",
                 `The installer that downloads: ${project.stem}.exe, ${size} bytes, as built.`);
  } catch (error) {
    if (at !== version) return;
    $("build-state").textContent = "";
    showMessages([{ field: "general", cls: "problem", text: error.message }]);
    if (seq === sideSeq) showRefused([error.message]);
  } finally {
    building = false;
    $("build").removeAttribute("aria-disabled");
    $("build-progress").hidden = true;
  }
}

export function putFiles(input, files) {
  const transfer = new DataTransfer();
  for (const file of files) transfer.items.add(file);
  input.files = transfer.files;
}

// The form beside the window; hidden again when an installer is opened, whose report is not the
// form's.
export function showForm(reset) {
  if (reset) form.reset();
  form.hidden = false;
  document.body.classList.add("making");
  $("hint").hidden = true;
  makerChanged();
}

export function hideForm() {
  clearTimeout(previewTimer);
  version++;  // answers on their way are no longer the page's
  form.hidden = true;
  document.body.classList.remove("making");
}

form.addEventListener("change", (event) => {
  delete event.target.dataset.kept;  // a file the author chose: named as saverpack names it
  makerChanged();
});
form.addEventListener("input", (event) => { if (event.target.type === "text") makerChanged(); });
form.addEventListener("submit", (event) => event.preventDefault());
$("build").addEventListener("click", buildFromForm);

// The facts of an installer, as saverpack's list and verify give them: the verdict with every
// problem and warning, the options, the slots, the data file's entries, each file with its
// Download (expanded, under its own name made safe) and, for a movie, its Play.
import { bytesOf } from "./client.js";
import { $, element, saveBytes, showPageError } from "./dom.js";
import { play } from "./movies.js";

export function showVerdict(report) {
  const box = $("verdict");
  box.replaceChildren();
  box.className = report.problems.length ? "unsound" : "sound";
  if (report.problems.length === 0) box.append(element("p", { class: "verdict-line", text: report.verdict }));
  for (const problem of report.problems) box.append(element("p", { class: "problem", text: problem }));
  for (const warning of report.warnings) box.append(element("p", { class: "warning", text: `warning: ${warning}` }));
}

// A file of another kind: the one line that says so; verify's own words only on asking.
export function showNotInstaller(report, name) {
  const box = $("verdict");
  box.replaceChildren(element("p", { class: "not-installer", id: "not-installer",
                                     text: `${name}: ${report.not_installer}` }));
  box.className = "unsound";
  if (!report.problems.length) return;
  const words = element("details", { class: "words" }, element("summary", { text: "What saverpack verify says of it" }));
  for (const problem of report.problems) words.append(element("p", { class: "problem", text: problem }));
  box.append(words);
}

const kContentWords = { 1: "picture", 2: "Flash movie", 3: "Flash movie", 4: "silent installation" };

export function showOptions(list) {
  const table = $("options");
  table.replaceChildren();
  if (!list) {
    table.append(element("tr", {}, element("td", { text: "No payload header can be read." })));
    return;
  }
  const rows = [
    ["saver_name", "SaverName", list.saver_name],
    ["content_mode", "ContentMode", list.content_mode, kContentWords[list.content_mode] || "nothing shown"],
    ["has_license", "HasLicense", list.has_license],
    ["show_document", "ShowDocument", list.show_document],
    ["open_display_properties", "OpenDisplayProperties", list.open_display_properties],
  ];
  for (const [key, label, value, words] of rows)
    table.append(element("tr", {}, element("th", { scope: "row", text: label }),
      element("td", { "data-key": key, text: String(value) }),
      element("td", { class: "words", text: words || "" })));
}

export function fileEntry(report, source, n) {
  return (report.files || []).find((f) => f.source === source && (f.slot === n || f.index === n));
}

// A name a hostile installer gives a file, made safe to save under: its last part only, without
// control characters or the marks that turn text around (which can hide an extension).
function safeFileName(name) {
  const last = String(name).split(/[\\/:]/).pop();
  return last.replace(/[\u0000-\u001f\u007f\u202a-\u202e\u2066-\u2069]/g, "_").replace(/^\.+$/, "") || "file.bin";
}

async function download(file) {
  try {
    saveBytes(await bytesOf(file), safeFileName(file.name));
  } catch (error) {
    showPageError(error.message);
  }
}

// Download and Play, each named by the file it acts on.
function fileButtons(file) {
  if (!file) return element("td");
  if (file.problem) return element("td", { class: "problem", text: file.problem });
  const name = safeFileName(file.name);
  const cell = element("td", { class: "actions" });
  cell.append(element("button", { type: "button", class: "download", text: "Download", "aria-label": `Download ${name}`,
                                  onclick: () => download(file) }));
  if (file.flash)
    cell.append(element("button", { type: "button", class: "play", text: "Play", "aria-label": `Play ${name}`,
                                    onclick: (event) => play(file, event.currentTarget) }));
  return cell;
}

export function showSlots(report) {
  const body = $("slots").tBodies[0];
  body.replaceChildren();
  for (const slot of report.list ? report.list.slots : []) {
    const row = element("tr", { "data-slot": String(slot.slot) },
      element("td", { "data-key": "slot", text: String(slot.slot) }),
      element("td", { "data-key": "role", text: slot.role }));
    if (slot.empty) {
      row.append(element("td", { class: "empty", colspan: "6", text: "(empty)" }));
    } else {
      for (const key of ["name", "destination", "coding", "stored_size", "file_size"])
        row.append(element("td", { "data-key": key, text: String(slot[key]) }));
      row.append(slot.slot === 0 ? element("td", { class: "words", text: "the installer itself" })
                                 : fileButtons(fileEntry(report, "slot", slot.slot)));
      if (slot.same_bytes_as)
        row.lastChild.append(element("span", { class: "words", text: `filled in: the same bytes as slot ${slot.same_bytes_as}` }));
    }
    body.append(row);
  }
}

export function showDataFile(report) {
  const box = $("data-file");
  box.replaceChildren();
  const data = report.list && report.list.data_file;
  if (!data) {
    box.append(element("p", { text: report.list ? "No readable data file." : "" }));
    return;
  }
  box.append(element("p", { text: `EntryCount ${data.entry_count}, MovieSource ${data.movie_source}` }));
  const head = ["entry", "name", "kind", "file size", "coding"].map((h) => element("th", { scope: "col", text: h }));
  head.push(element("th", { scope: "col" }, element("span", { class: "visually-hidden", text: "its file" })));
  const table = element("table", { id: "entries" }, element("thead", {}, element("tr", {}, ...head)));
  const body = element("tbody");
  for (const entry of data.entries) {
    const row = element("tr", { "data-entry": String(entry.index) },
      element("td", { "data-key": "index", text: String(entry.index) }),
      element("td", { "data-key": "name", text: entry.name }),
      element("td", { "data-key": "kind", text: String(entry.kind) }),
      element("td", { "data-key": "file_size", text: entry.file_size === undefined ? "" : String(entry.file_size) }),
      element("td", { "data-key": "coding", text: entry.coding || "" }),
      fileButtons(fileEntry(report, "entry", entry.index)));
    body.append(row);
  }
  table.append(body);
  box.append(table);
}

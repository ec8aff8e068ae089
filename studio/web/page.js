// The studio page: opens an installer through the worker, draws its window as the installer
// would and shows what it holds. Every fact comes from saverpack's core in the worker; the page
// only lays them out.
"use strict";

const worker = new Worker("worker.js");
const pending = new Map();  // request id -> {resolve, reject}
let nextId = 1;
let openId = 0;             // the request whose report the page shows
let layouts = null;         // the window's layout with and without a licence
let shownUrls = [];
let lastOpened = null;      // the installer opened last: {report, name}         // object URLs of the file on show, freed when another opens

const $ = (id) => document.getElementById(id);

function ask(message) {
  const id = nextId++;
  return new Promise((resolve, reject) => {
    pending.set(id, { resolve, reject });
    worker.postMessage({ ...message, id });
  });
}

worker.onmessage = (event) => {
  const message = event.data;
  if (message.type === "progress") return showProgress(message);
  const waiter = pending.get(message.id);
  if (!waiter) return;
  pending.delete(message.id);
  if (message.type === "error") waiter.reject(new Error(message.message));
  else waiter.resolve(message);
};
worker.onerror = (event) => {
  event.preventDefault();
  showPageError(`The studio's worker failed: ${event.message || "it could not start"}`);
  for (const waiter of pending.values()) waiter.reject(new Error("the worker failed"));
  pending.clear();
};

function showPageError(text) {
  const box = $("page-error");
  box.textContent = text;
  box.hidden = false;
}

function showProgress(message) {
  if (message.stage === "Packing") {
    const bar = $("build-progress");
    bar.hidden = false;
    bar.max = Math.max(1, message.total);
    bar.value = message.done;
    $("build-state").textContent = `Packing ${message.done} of ${message.total} files…`;
    return;
  }
  if (message.id !== openId) return;
  const bar = $("progress");
  bar.hidden = false;
  bar.max = Math.max(1, message.total);
  if (message.stage === "Checking") bar.removeAttribute("value");
  else bar.value = message.done;
  const mb = (n) => (n / 1048576).toFixed(1);
  $("stage").textContent = message.stage === "Reading"
    ? `Reading ${mb(message.done)} of ${mb(message.total)} MB…` : "Checking…";
}

function element(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attributes)) {
    if (key === "class") node.className = value;
    else if (key === "text") node.textContent = value;
    else if (key.startsWith("on")) node.addEventListener(key.slice(2), value);
    else node.setAttribute(key, value);
  }
  for (const child of children) if (child != null) node.append(child);
  return node;
}

function place(node, rect) {
  Object.assign(node.style, { left: `${rect.left}px`, top: `${rect.top}px`,
                              width: `${rect.width}px`, height: `${rect.height}px` });
  return node;
}

// ---- opening ------------------------------------------------------------------------------

async function openFile(blob, name) {
  const begun = performance.now();
  // The shown file's buttons would ask for the bytes of the one being read: off until it shows.
  for (const button of document.querySelectorAll("button.download, button.play")) button.disabled = true;
  $("file-name").textContent = name;
  $("hint").hidden = true;
  $("page-error").hidden = true;
  let id = 0;
  try {
    if (!layouts) layouts = await ask({ type: "layout" });
    id = openId = nextId;  // the id that ask() gives the open request
    const answer = await ask({ type: "open", file: blob });
    if (id !== openId) return;  // another file was opened meanwhile
    await show(answer.report, name);
    lastOpened = { report: answer.report, name };
    $("project-actions").hidden = !(answer.report.list && answer.report.problems.length === 0);
    $("stage").textContent = `Read and checked in ${Math.round(answer.ms)} ms`;
    document.body.dataset.openedMs = String(answer.ms);  // in the worker: read, checked, listed
    document.body.dataset.shownMs = String(performance.now() - begun);  // and shown
  } catch (error) {
    if (id && id !== openId) return;
    showPageError(`${name}: ${error.message}`);
    $("stage").textContent = "";
  } finally {
    if (!id || id === openId) $("progress").hidden = true;
  }
}

async function openFromServer(name) {
  try {
    const response = await fetch(`open/${encodeURIComponent(name)}`);
    if (!response.ok) throw new Error(`the studio server answered ${response.status}`);
    await openFile(await response.blob(), name);
  } catch (error) {
    showPageError(`${name}: ${error.message}`);
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

// ---- showing ------------------------------------------------------------------------------

async function show(report, name) {
  for (const url of shownUrls) URL.revokeObjectURL(url);
  shownUrls = [];
  closePlayer();
  $("views").hidden = false;
  document.body.dataset.report = "loading";
  showVerdict(report);
  const list = report.list;
  showOptions(list);
  showSlots(report);
  showDataFile(report);
  $("uninstall").textContent = report.uninstall || "";
  $("signature").textContent = report.signature || "";
  await showWindow(report);
  document.title = `${name} — studio`;
  document.body.dataset.report = "shown";
}

function showVerdict(report) {
  const box = $("verdict");
  box.replaceChildren();
  box.className = report.problems.length ? "unsound" : "sound";
  if (report.problems.length === 0) box.append(element("p", { class: "verdict-line", text: report.verdict }));
  for (const problem of report.problems) box.append(element("p", { class: "problem", text: problem }));
  for (const warning of report.warnings) box.append(element("p", { class: "warning", text: `warning: ${warning}` }));
}

const kContentWords = { 1: "picture", 2: "Flash movie", 3: "Flash movie", 4: "silent installation" };

function showOptions(list) {
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
    table.append(element("tr", {}, element("th", { text: label }),
      element("td", { "data-key": key, text: String(value) }),
      element("td", { class: "words", text: words || "" })));
}

function fileEntry(report, source, n) {
  return (report.files || []).find((f) => f.source === source && (f.slot === n || f.index === n));
}

function fileButtons(file) {
  if (!file) return element("td");
  if (file.problem) return element("td", { class: "problem", text: file.problem });
  const cell = element("td", { class: "actions" });
  cell.append(element("button", { type: "button", class: "download", text: "Download",
    onclick: () => download(file) }));
  if (file.flash)
    cell.append(element("button", { type: "button", class: "play", text: "Play",
      onclick: () => play(file) }));
  return cell;
}

function showSlots(report) {
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

function showDataFile(report) {
  const box = $("data-file");
  box.replaceChildren();
  const data = report.list && report.list.data_file;
  if (!data) {
    box.append(element("p", { text: report.list ? "No readable data file." : "" }));
    return;
  }
  box.append(element("p", { text: `EntryCount ${data.entry_count}, MovieSource ${data.movie_source}` }));
  const table = element("table", { id: "entries" },
    element("thead", {}, element("tr", {}, ...["entry", "name", "kind", "file size", "coding", ""]
      .map((h) => element("th", { text: h })))));
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

// ---- the window ---------------------------------------------------------------------------

async function bytesOf(file) {
  const answer = await ask({ type: "file", source: file.source, n: file.slot || file.index });
  if (answer.problem) throw new Error(`${file.name}: ${answer.problem}`);
  return answer.bytes;
}

function classicButton(caption, accelerator, rect, cls) {
  const button = place(element("button", { type: "button", class: `classic-button ${cls}`, tabindex: "-1" }), rect);
  if (accelerator >= 0) {
    button.append(caption.slice(0, accelerator), element("u", { text: caption[accelerator] }),
                  caption.slice(accelerator + 1));
  } else {
    button.textContent = caption;
  }
  button.dataset.caption = caption;
  return button;
}

async function showWindow(report) {
  const preview = $("preview");
  preview.replaceChildren();
  const win = report.window;
  if (!win) {
    preview.append(element("p", { class: "no-window", text: "No window: the installer cannot read its payload header." }));
    return;
  }
  if (!win.shown) {
    preview.append(element("p", { class: "no-window silent",
      text: "A silent installer: no window is shown; the installation runs at once." }));
    return;
  }
  const licence = win.has_license;
  const layout = licence ? layouts.withLicence : layouts.withoutLicence;
  const client = layout.client;
  const frame = element("div", { class: `window ${licence ? "sizable" : "fixed"}` });
  frame.style.width = `${client.width + 2 * layout.frame}px`;
  frame.style.setProperty("--frame", `${layout.frame}px`);
  const caption = element("div", { class: "caption" },
    element("span", { class: "caption-text", text: win.caption }),
    element("span", { class: "close-box", text: "✕" }));
  caption.style.height = `${layout.caption_height - 1}px`;
  const area = element("div", { class: "client", id: "client" });
  area.style.width = `${client.width}px`;
  area.style.height = `${client.height}px`;
  frame.append(caption, area);

  const panel = place(element("div", { class: "content-panel", id: "content-panel" }), layout.content_panel);
  area.append(panel);
  // Inside the panel's 1-pixel bevel: children are placed from its inner corner.
  const inner = { left: layout.image.left - layout.content_panel.left - 1,
                  top: layout.image.top - layout.content_panel.top - 1,
                  width: layout.image.width, height: layout.image.height };
  if (licence) {
    const memo = place(element("textarea", { class: "memo", id: "memo", readonly: "", tabindex: "-1" }), layout.memo);
    memo.value = win.licence === undefined ? "" : win.licence;
    area.append(memo);
  }
  const buttons = place(element("div", { class: "button-panel", id: "button-panel" }), layout.button_panel);
  const inButtons = (r) => ({ left: r.left - layout.button_panel.left, top: r.top - layout.button_panel.top,
                              width: r.width, height: r.height });
  buttons.append(place(element("div", { class: "progress-bar", id: "progress-bar" }), inButtons(layout.progress_bar)));
  buttons.append(classicButton(licence ? "Accept and Install" : "Install", -1, inButtons(layout.install_button), "install"));
  if (licence) buttons.append(classicButton("Decline", 0, inButtons(layout.decline_button), "decline"));
  buttons.querySelectorAll("button")[0].id = "install-button";
  if (licence) buttons.querySelector(".decline").id = "decline-button";
  area.append(buttons);
  preview.append(frame);

  const content = fileEntry(report, "slot", 3);
  if (!content || content.problem) return;
  if (win.content === "picture") {
    const bytes = await bytesOf(content);
    const url = URL.createObjectURL(new Blob([bytes], { type: "image/bmp" }));
    shownUrls.push(url);
    const image = place(element("img", { class: "picture", id: "picture", alt: "" }), inner);
    await new Promise((resolve) => {
      image.onload = resolve;
      image.onerror = () => {
        panel.append(element("p", { class: "problem", text: "The picture is not a bitmap the browser can draw." }));
        image.remove();
        resolve();
      };
      image.src = url;
      panel.append(image);
    });
  } else if (win.content === "flash") {
    const bytes = await bytesOf(content);
    const stage = place(element("div", { class: "movie", id: "content-movie" }), inner);
    panel.append(stage);
    playInto(stage, bytes, content.name, inner.width, inner.height);
  }
}

// ---- files: download and play ---------------------------------------------------------------

// A name a hostile installer gives a file, made safe to save under: its last part only, without
// control characters or the marks that turn text around (which can hide an extension).
function safeFileName(name) {
  const last = String(name).split(/[\\/:]/).pop();
  return last.replace(/[\u0000-\u001f\u007f\u202a-\u202e\u2066-\u2069]/g, "_").replace(/^\.+$/, "") || "file.bin";
}

async function download(file) {
  try {
    const bytes = await bytesOf(file);
    const url = URL.createObjectURL(new Blob([bytes], { type: "application/octet-stream" }));
    const link = element("a", { href: url, download: safeFileName(file.name) });
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  } catch (error) {
    showPageError(error.message);
  }
}

// A movie's own size in pixels from its header (FWS plain, CWS zlib); null when it cannot be
// read here (ZWS): Ruffle then tells it once it has loaded the movie.
async function movieSize(bytes) {
  let body = bytes.subarray(8);
  if (bytes[0] === 0x43) {
    try {
      const stream = new Blob([body]).stream().pipeThrough(new DecompressionStream("deflate"));
      const reader = stream.getReader();
      const { value } = await reader.read();
      reader.cancel().catch(() => {});
      body = value || new Uint8Array();
    } catch { return null; }
  } else if (bytes[0] !== 0x46) {
    return null;
  }
  if (body.length < 1) return null;
  const bits = body[0] >> 3;
  let at = 5;
  const read = () => {
    let value = 0;
    for (let i = 0; i < bits; i++, at++) {
      const byte = body[at >> 3];
      if (byte === undefined) return NaN;
      value = value * 2 + ((byte >> (7 - (at & 7))) & 1);
    }
    return value >= 2 ** (bits - 1) ? value - 2 ** bits : value;
  };
  const [xMin, xMax, yMin, yMax] = [read(), read(), read(), read()];
  const width = Math.round((xMax - xMin) / 20), height = Math.round((yMax - yMin) / 20);
  return width > 0 && height > 0 && width < 8192 && height < 8192 ? { width, height } : null;
}

// ---- movies: played in a frame that reaches nothing -------------------------------------------
// Ruffle runs in player.html, in a frame sandboxed to an origin of its own, whose policy allows no
// connection: no address a movie makes, relative or absolute, reaches the server or carries its
// token (player.js tells how). The frame's messages are a stranger's: only those of a frame the
// page made count, and their values are taken as numbers and text only.

const kRuffleWasm = /^[0-9a-f]{16,64}\.wasm$/;
const ruffleWasm = new Map();  // name -> the bytes, fetched once for every frame
// A frame's window -> {frame, stage, name, onSize, movie (until sent), asked (wasm), playing, told}.
const players = new WeakMap();

function ruffleWasmBytes(name) {
  if (!ruffleWasm.has(name)) {
    const fetched = fetch(`ruffle/${name}`).then((response) => {
      if (!response.ok) throw new Error(`ruffle/${name}: the studio server answered ${response.status}`);
      return response.arrayBuffer();
    });
    fetched.catch(() => ruffleWasm.delete(name));
    ruffleWasm.set(name, fetched);
  }
  return ruffleWasm.get(name);
}

// Ruffle's wasm for a frame that asks before its movie plays, each of Ruffle's two builds once at
// most; a copy each, as it is transferred.
async function sendRuffleWasm(player, name) {
  if (player.playing || !kRuffleWasm.test(name) || player.asked.has(name) || player.asked.size >= 2) return;
  player.asked.add(name);
  const target = player.frame.contentWindow;
  try {
    const copy = (await ruffleWasmBytes(name)).slice(0);
    target?.postMessage({ type: "wasm", name, bytes: copy }, "*", [copy]);
  } catch (error) {
    target?.postMessage({ type: "wasm", name, bytes: null, problem: error.message }, "*");
  }
}

function frameSize(frame, width, height) {
  frame.style.width = `${width}px`;
  frame.style.height = `${height}px`;
}

window.addEventListener("message", (event) => {
  const player = event.source ? players.get(event.source) : undefined;
  const message = event.data;
  if (!player || !player.frame.isConnected || !message || typeof message !== "object") return;
  const type = String(message.type);
  if (type === "ready" && player.movie) {
    const movie = player.movie;
    player.movie = null;
    event.source.postMessage({ type: "play", movie, name: player.name }, "*", [movie]);
  } else if (type === "wasm") {
    sendRuffleWasm(player, String(message.name));
  } else if (type === "playing") {
    player.playing = true;
    player.frame.dataset.state = "playing";
  } else if (type === "size") {
    const width = Math.round(Number(message.width)), height = Math.round(Number(message.height));
    if (player.onSize && width > 0 && height > 0 && width < 8192 && height < 8192) player.onSize(width, height);
  } else if (type === "problem" && !player.told) {
    player.told = true;
    player.stage.append(element("p", { class: "problem",
      text: `${player.name}: Ruffle cannot play it (${String(message.text).slice(0, 300)})` }));
  }
});

// A frame playing the movie's bytes (a copy, handed over), width x height pixels; onSize gets the
// movie's own size once Ruffle knows it.
function playInto(stage, bytes, name, width, height, onSize) {
  const frame = element("iframe", { class: "player-frame", src: "player.html", sandbox: "allow-scripts",
                                    allow: "autoplay", referrerpolicy: "no-referrer", title: `${name}, played by Ruffle` });
  frameSize(frame, width, height);
  stage.append(frame);
  players.set(frame.contentWindow, { frame, stage, name, onSize, movie: bytes.slice().buffer, asked: new Set(),
                                     playing: false, told: false });
  return frame;
}

function closePlayer() {
  $("player-stage").replaceChildren();
  $("player-box").hidden = true;
}
$("player-close").addEventListener("click", closePlayer);

async function play(file) {
  try {
    const bytes = await bytesOf(file);
    closePlayer();
    const size = (await movieSize(bytes)) || { width: 550, height: 400 };
    $("player-title").textContent = `${file.name}, ${size.width} x ${size.height}`;
    $("player-box").hidden = false;
    const frame = playInto($("player-stage"), bytes, file.name, size.width, size.height, (width, height) => {
      frameSize(frame, width, height);
      $("player-title").textContent = `${file.name}, ${width} x ${height}`;
    });
  } catch (error) {
    showPageError(error.message);
  }
}

// ---- the New installer form ------------------------------------------------------------------
// The form is written as a project file, the very file the download gives; the worker builds it
// with saverpack's own code, and whatever the command line says comes back beside its choice.

const kFileFields = ["program", "content-file", "license", "document", "extra", "library1", "library2",
                     "flash_installer"];
const kSlotOf = { "content-file": "content" };
let makerVersion = 0;   // the form's changes, so that an older preview never replaces a newer one
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
  const form = $("maker");
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
  return { text: `${lines.join("\n")}\n`, stem: projectStem(name), fieldOfLine, files, fieldOfPath };
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

function showMessages(project, problems, warnings) {
  for (const old of $("maker").querySelectorAll(".message")) old.remove();
  const add = (text, cls) => {
    const field = $("maker").querySelector(`[data-field="${fieldOf(project, text)}"]`);
    field.append(element("span", { class: `message ${cls}`, text: cls === "warning" ? `warning: ${text}` : text }));
  };
  for (const problem of problems) add(problem, "problem");
  for (const warning of warnings) add(warning, "warning");
  $("maker").dataset.problems = String(problems.length);
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

// Every change: the downloads go (they no longer match the form), and a quick build stored plain
// shows the window and what the installer will hold.
let previewTimer = 0;
function makerChanged() {
  makerVersion++;
  clearDownloads();
  $("build-state").textContent = "";
  clearTimeout(previewTimer);
  document.body.dataset.preview = "waiting";
  previewTimer = setTimeout(preview, 250);
}

async function preview() {
  $("project-actions").hidden = true;  // the report shown is the form's
  const version = makerVersion;
  const project = makerProject();
  document.body.dataset.preview = "building";
  try {
    const answer = await ask({ type: "build", files: project.files, project: project.text,
                               name: `${project.stem}.toml`, fast: true, plain: true });
    if (version !== makerVersion) return;
    showMessages(project, answer.problems, answer.warnings);
    if (answer.report) {
      if (!layouts) layouts = await ask({ type: "layout" });
      await show(answer.report, `${project.stem}.exe`);
    }
  } catch (error) {
    if (version === makerVersion) showMessages(project, [error.message], []);
  } finally {
    if (version === makerVersion) document.body.dataset.preview = "shown";
  }
}

async function buildFromForm() {
  const version = makerVersion;
  const project = makerProject();
  clearDownloads();
  $("build").disabled = true;
  $("build-state").textContent = "Building…";
  try {
    const answer = await ask({ type: "build", files: project.files, project: project.text,
                               name: `${project.stem}.toml`, fast: false, plain: false });
    if (version !== makerVersion) return;
    showMessages(project, answer.problems, answer.warnings);
    if (!answer.bytes) {
      $("build-state").textContent = "Not built: see the choices marked in red.";
      return;
    }
    offer(answer.bytes, `${project.stem}.exe`, "download-installer", `${project.stem}.exe (${answer.bytes.length} bytes)`);
    offer(new TextEncoder().encode(project.text), `${project.stem}.toml`, "download-project", `${project.stem}.toml, the project`);
    $("build-state").textContent = `Built in ${Math.round(answer.ms)} ms`;
    document.body.dataset.builtMs = String(answer.ms);
    document.body.dataset.checkedMs = String(answer.checkMs);
    await show(answer.report, `${project.stem}.exe`);
  } catch (error) {
    $("build-state").textContent = "";
    showMessages(project, [error.message], []);
  } finally {
    $("build").disabled = false;
    $("build-progress").hidden = true;
  }
}

$("new-installer").addEventListener("click", () => {
  $("maker").reset();
  $("maker").hidden = false;
  $("hint").hidden = true;
  makerChanged();
});
$("maker").addEventListener("change", (event) => {
  delete event.target.dataset.kept;  // a file the author chose: named as saverpack names it
  makerChanged();
});
$("maker").addEventListener("input", (event) => { if (event.target.type === "text") makerChanged(); });
$("maker").addEventListener("submit", (event) => event.preventDefault());
$("build").addEventListener("click", buildFromForm);

// ---- an opened installer as a project ---------------------------------------------------------

const kFieldSlots = { flash_installer: 2, "content-file": 3, license: 4, document: 5, program: 6, extra: 7,
                      library1: 9, library2: 10 };

function putFiles(input, files) {
  const transfer = new DataTransfer();
  for (const file of files) transfer.items.add(file);
  input.files = transfer.files;
}

// A name from an opened installer as the form's file is named: its last part, as the installer
// writes an entry (a name such as "../tools/install.exe" must not become a path in the worker).
function lastPart(name) {
  return String(name).split(/[\\/]/).pop();
}

// The opened installer's choices in the form: its name, options and files (the slots saverpack
// fills in left to it again), ready to change and build.
async function editOpened() {
  const { report } = lastOpened;
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
  form.hidden = false;
  makerChanged();
}

async function projectZip() {
  const stem = lastOpened.name.replace(/\.[^.]*$/, "") || "installer";
  try {
    const answer = await ask({ type: "project", name: lastOpened.name, stem });
    if (!answer.zip) throw new Error(answer.problems.join("; "));
    const url = URL.createObjectURL(new Blob([answer.zip], { type: "application/zip" }));
    const link = element("a", { href: url, download: `${stem}-project.zip` });
    document.body.append(link);
    link.click();
    link.remove();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  } catch (error) {
    showPageError(`${lastOpened.name}: ${error.message}`);
  }
}

$("edit-opened").addEventListener("click", () => editOpened().catch((error) => showPageError(error.message)));
$("project-zip").addEventListener("click", projectZip);

// ---- start ---------------------------------------------------------------------------------

window.addEventListener("unhandledrejection", (event) => showPageError(String(event.reason)));
const opened = new URLSearchParams(location.search).get("open");
if (opened) openFromServer(opened);

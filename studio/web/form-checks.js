// The form's own checks, made before the module's build: what the command line cannot know of a
// choice (the window is to show a movie, and the file is a picture) or says only through knock-on
// errors (an empty name), and how a text file will read in the installer, which reads its licence
// and document as Windows-1252.

// Windows-1252's characters for the bytes 0x80 to 0x9f (the five it leaves undefined as "").
const kHigh = ["€", "", "‚", "ƒ", "„", "…", "†", "‡", "ˆ", "‰", "Š", "‹", "Œ", "", "Ž", "",
               "", "‘", "’", "“", "”", "•", "–", "—", "˜", "™", "š", "›", "œ", "", "ž", "Ÿ"];
const kByteOfHigh = new Map(kHigh.map((c, i) => [c, 0x80 + i]).filter(([c]) => c));

// text in Windows-1252's bytes, or null; missing gets the characters it has not.
export function toCp1252(text, missing = []) {
  const bytes = [];
  for (const c of text) {
    const code = c.codePointAt(0);
    const byte = code < 0x80 || (code >= 0xa0 && code <= 0xff) ? code : kByteOfHigh.get(c);
    if (byte === undefined) missing.push(c);
    else bytes.push(byte);
  }
  return missing.length ? null : new Uint8Array(bytes);
}

const asCp1252 = (bytes) => new TextDecoder("windows-1252").decode(bytes);
const quoted = (text) => `“${text}”`;
const kMaxTextCheck = 8 * 1024 * 1024;  // a larger document is no text to read in a memo
const textNotes = new WeakMap();        // a chosen file -> its note (files do not change)

// The word around the first character outside ASCII, as written and as the installer shows it.
function sampleOf(text) {
  const at = text.search(/[^\x00-\x7f]/);
  let start = at, end = at;
  while (start > 0 && at - start < 12 && !/\s/.test(text[start - 1])) start--;
  while (end < text.length && end - at < 12 && !/\s/.test(text[end])) end++;
  const word = text.slice(start, end);
  return { word, shown: asCp1252(new TextEncoder().encode(word)) };
}

// A UTF-8 text with characters outside ASCII: how it will show, and its bytes in Windows-1252
// where every character has one. null for any other file.
async function textNote(file) {
  if (file.size > kMaxTextCheck) return null;
  const bytes = new Uint8Array(await file.arrayBuffer());
  if (!bytes.some((b) => b >= 0x80) || bytes.includes(0)) return null;
  let text;
  try {
    text = new TextDecoder("utf-8", { fatal: true, ignoreBOM: true }).decode(bytes);
  } catch {
    return null;  // not UTF-8: read as Windows-1252 it shows as written
  }
  const bom = text.startsWith("\ufeff");
  const body = bom ? text.slice(1) : text;
  const missing = [];
  const converted = toCp1252(body, missing);
  const sample = /[^\x00-\x7f]/.test(body) ? sampleOf(body) : { word: "", shown: "ï»¿" };
  return { bom, sample, converted, missing: [...new Set(missing)].slice(0, 5) };
}

function textWarning(field, file, note) {
  const as = note.sample.word ? `${quoted(note.sample.word)} will show as ${quoted(note.sample.shown)}`
                              : `its first line will begin with ${quoted(note.sample.shown)}`;
  let text = `${file.name} is UTF-8 text, but the installer reads it as Windows-1252: ${as}.`;
  if (!note.converted)
    text += ` It holds characters Windows-1252 has not (${note.missing.map(quoted).join(", ")}): they cannot show as written.`;
  else text += " Converted to Windows-1252, it shows as written.";
  return { field, cls: "warning", text, convert: note.converted && { file, bytes: note.converted } };
}

function movieProblem(file, head) {
  const signature = String.fromCharCode(...head.subarray(0, 3));
  if (["FWS", "CWS", "ZWS"].includes(signature)) return null;
  const kind = head[0] === 0x89 && signature.endsWith("PN") ? "a PNG picture"
             : head[0] === 0xff && head[1] === 0xd8 ? "a JPEG picture"
             : signature === "GIF" ? "a GIF picture" : signature.startsWith("BM") ? "a BMP picture"
             : signature.startsWith("MZ") ? "a Windows program" : "";
  const what = kind ? `${file.name} is ${kind}, not a Flash movie` : `${file.name} is not a Flash movie`;
  const hint = kind.endsWith("picture") ? `: choose ${quoted("a picture")} above to show it, or a .swf movie` : "";
  return { field: "content-file", cls: "problem",
           text: `${what} (a movie begins with FWS, CWS or ZWS)${hint}.` };
}

// The form's own words: [{field, cls ("problem" or "warning"), text, convert?: {file, bytes}}].
export async function checkForm(form) {
  const found = [];
  if (!form.elements.name.value.trim())
    found.push({ field: "name", cls: "problem", text: `Give the screen saver a name: the window's title ` +
                 `(${quoted("Install …")}), its folder and its uninstall entry are made of it.` });
  const content = form.elements["content-file"].files[0];
  if (content && form.elements.content.value === "flash") {
    const problem = movieProblem(content, new Uint8Array(await content.slice(0, 3).arrayBuffer()));
    if (problem) found.push(problem);
  }
  for (const field of ["license", "document"]) {
    const file = form.elements[field].files[0];
    if (!file) continue;
    if (!textNotes.has(file)) textNotes.set(file, textNote(file));
    const note = await textNotes.get(file);
    if (note) found.push(textWarning(field, file, note));
  }
  return found;
}

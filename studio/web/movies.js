// Movies: played in a frame that reaches nothing. Ruffle runs in player.html, in a frame sandboxed
// to an origin of its own, whose policy allows no connection: no address a movie makes, relative
// or absolute, reaches the server or carries its token (player.js tells how). The frame's
// messages are a stranger's: only those of a frame the page made count, and their values are
// taken as numbers and text only.
import { bytesOf, fetchOwn } from "./client.js";
import { $, element, showPageError } from "./dom.js";

const kRuffleWasm = /^[0-9a-f]{16,64}\.wasm$/;
const ruffleWasm = new Map();  // name -> the bytes, fetched once for every frame
// A frame's window -> {frame, stage, name, onSize, movie (until sent), asked (wasm), playing, told}.
const players = new WeakMap();
let opener = null;  // the Play button the player box was opened from: focus goes back to it

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

function ruffleWasmBytes(name) {
  if (!ruffleWasm.has(name)) {
    const fetched = fetchOwn(`ruffle/${name}`).then((response) => response.arrayBuffer());
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
  } else if (type === "escape" && player.stage === $("player-stage")) {
    closePlayer();  // the key was pressed in the movie's frame, which the page's keys never see
  } else if (type === "problem" && !player.told) {
    player.told = true;
    player.stage.append(element("p", { class: "problem",
      text: `${player.name}: Ruffle cannot play it (${String(message.text).slice(0, 300)})` }));
  }
});

// A frame playing the movie's bytes (a copy, handed over), width x height pixels; onSize gets the
// movie's own size once Ruffle knows it.
export function playInto(stage, bytes, name, width, height, onSize) {
  const frame = element("iframe", { class: "player-frame", src: "player.html", sandbox: "allow-scripts",
                                    allow: "autoplay", referrerpolicy: "no-referrer", title: `${name}, played by Ruffle` });
  frameSize(frame, width, height);
  stage.append(frame);
  players.set(frame.contentWindow, { frame, stage, name, onSize, movie: bytes.slice().buffer, asked: new Set(),
                                     playing: false, told: false });
  return frame;
}

export function closePlayer() {
  const wasOpen = !$("player-box").hidden;
  $("player-stage").replaceChildren();
  $("player-box").hidden = true;
  if (wasOpen && opener?.isConnected) opener.focus();
  opener = null;
}
$("player-close").addEventListener("click", closePlayer);
document.addEventListener("keydown", (event) => {
  if (event.key === "Escape" && !$("player-box").hidden) closePlayer();
});

// The movie in the player box, at its own size; Close or Escape ends it.
export async function play(file, button) {
  try {
    const bytes = await bytesOf(file);
    closePlayer();
    opener = button || null;
    const size = (await movieSize(bytes)) || { width: 550, height: 400 };
    $("player-title").textContent = `${file.name}, ${size.width} x ${size.height}`;
    $("player-close").setAttribute("aria-label", `Close ${file.name}`);
    $("player-box").hidden = false;
    const frame = playInto($("player-stage"), bytes, file.name, size.width, size.height, (width, height) => {
      frameSize(frame, width, height);
      $("player-title").textContent = `${file.name}, ${width} x ${height}`;
    });
    $("player-close").focus();
  } catch (error) {
    showPageError(error.message);
  }
}

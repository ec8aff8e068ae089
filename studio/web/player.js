// The studio's movie player, in a frame the page sandboxes to an origin of its own (no
// allow-same-origin): whatever a movie asks for, it reaches nothing. Its policy allows no
// connection from the start; Ruffle's wasm comes from the page by message (an opaque origin could
// not read it from the server anyway); and once Ruffle runs, on an empty movie of our own, a
// second policy allows no script either, before the movie is given to it. Messages:
//   player -> page: {type: "ready"}                             once its scripts have run
//   page -> player: {type: "play", movie: ArrayBuffer, name}    once
//                   {type: "wasm", name, bytes: ArrayBuffer or null, problem}
//   player -> page: {type: "wasm", name}                        Ruffle asks for its wasm
//                   {type: "size", width, height}               the movie's own size
//                   {type: "playing"}, {type: "problem", text}
//                   {type: "escape"}                            Escape pressed in the frame: close
"use strict";

const kOptions = {
  publicPath: "ruffle/", polyfills: false, autoplay: "on", unmuteOverlay: "hidden", splashScreen: false,
  contextMenu: "off", letterbox: "off", allowNetworking: "none", openUrlMode: "deny", allowScriptAccess: false,
  showSwfDownload: false, warnOnUnsupportedContent: false, logLevel: "error",
  base: "http://movie.invalid/",  // a relative address names no server (.invalid never resolves)
};
const kLockedPolicy = "default-src 'none'; script-src 'none'; connect-src 'none'; img-src blob: data:; " +
                      "style-src 'unsafe-inline'";
// A movie of one empty frame, 1 x 1 pixel: FWS, version 6, its length, the frame's rectangle,
// 12 frames a second, 1 frame; ShowFrame, End.
const kEmptyMovie = [0x46, 0x57, 0x53, 6, 20, 0, 0, 0, 0x30, 0x0a, 0x00, 0xa0, 0, 12, 1, 0, 0x40, 0x00, 0x00, 0x00];

const wasmWaiters = new Map();  // name -> {resolve, reject}: Ruffle's fetch of its wasm
let locked = false;
let started = false;

function tell(message) {
  window.parent.postMessage(message, "*");
}

// Ruffle's only fetch: its wasm, answered by the page, and only until Ruffle runs.
window.fetch = (input) => {
  const url = String(input && typeof input === "object" && "url" in input ? input.url : input);
  const name = /\/ruffle\/([0-9a-f]{16,64}\.wasm)$/.exec(url);
  if (locked || !name) return Promise.reject(new TypeError("the movie player reaches nothing"));
  return new Promise((resolve, reject) => {
    wasmWaiters.set(name[1], { resolve, reject });
    tell({ type: "wasm", name: name[1] });
  });
};

function answerWasm(message) {
  const name = String(message.name);
  const waiter = wasmWaiters.get(name);
  if (!waiter) return;
  wasmWaiters.delete(name);
  if (message.bytes instanceof ArrayBuffer)
    waiter.resolve(new Response(message.bytes, { headers: { "Content-Type": "application/wasm" } }));
  else waiter.reject(new TypeError(String(message.problem)));
}

// Policies only add up: from here on no script loads and no wasm compiles, whatever Ruffle or a
// movie would ask.
function lock() {
  const meta = document.createElement("meta");
  meta.httpEquiv = "Content-Security-Policy";
  meta.content = kLockedPolicy;
  document.head.append(meta);
  locked = true;
}

async function play(movie, name) {
  const ruffle = window.RufflePlayer && window.RufflePlayer.newest && window.RufflePlayer.newest();
  if (!ruffle) throw new Error("Ruffle, the Flash player, did not load.");
  const warm = ruffle.createPlayer();
  document.body.append(warm);
  await warm.ruffle().load({ ...kOptions, data: new Uint8Array(kEmptyMovie).buffer, swfFileName: "empty.swf" });
  warm.remove();
  lock();
  const player = ruffle.createPlayer();
  player.addEventListener("loadedmetadata", () => {
    const metadata = player.ruffle().metadata;
    if (metadata && metadata.width) tell({ type: "size", width: metadata.width, height: metadata.height });
  });
  document.body.append(player);
  await player.ruffle().load({ ...kOptions, data: movie, swfFileName: name });
  tell({ type: "playing" });
}

window.addEventListener("message", (event) => {
  const message = event.data;
  if (event.source !== window.parent || !message || typeof message !== "object") return;
  if (message.type === "wasm") {
    answerWasm(message);
  } else if (message.type === "play" && !started && message.movie instanceof ArrayBuffer) {
    started = true;
    play(message.movie, String(message.name)).catch((error) =>
      tell({ type: "problem", text: String((error && error.message) || error) }));
  }
});
document.addEventListener("DOMContentLoaded", () => tell({ type: "ready" }));
// The page's keys stop at this frame's edge: Escape here closes the player box all the same.
document.addEventListener("keydown", (event) => { if (event.key === "Escape") tell({ type: "escape" }); });

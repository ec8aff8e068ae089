// The worker's client: every request is a message with an id, answered once, with its progress on
// the way. The server refusing the page's own files (403: a token it no longer has, after a
// restart) is told as what it means here, not as the file that happened to be asked for.
import { showPageError } from "./dom.js";

export const kRestarted = "The studio was restarted, so this page's address is no longer its own: open the " +
                          "new address that saverpack studio printed when it started (or run saverpack studio again).";

const worker = new Worker("worker.js");
const pending = new Map();  // request id -> {resolve, reject, progress}
let nextId = 1;

// A refusal of the page's own files, already told on the page.
export class Refused extends Error {}

function refused() {
  showPageError(kRestarted);
  return new Refused(kRestarted);
}

// The worker's answer to message; progress(message) gets its progress messages.
export function ask(message, progress) {
  const id = nextId++;
  if (failure) return Promise.reject(failure);
  return new Promise((resolve, reject) => {
    pending.set(id, { resolve, reject, progress });
    worker.postMessage({ ...message, id });
  });
}

worker.onmessage = (event) => {
  const message = event.data;
  const waiter = pending.get(message.id);
  if (!waiter) return;
  if (message.type === "progress") return waiter.progress?.(message);
  pending.delete(message.id);
  if (message.type !== "error") waiter.resolve(message);
  else waiter.reject(message.status === 403 ? refused() : new Error(message.message));
};
// A worker that failed answers nothing again: every request, waiting or to come, gets the failure.
let failure = null;
worker.onerror = async (event) => {
  event.preventDefault();
  failure = new Error(`The studio's worker failed: ${event.message || "it could not start"}`);
  for (const waiter of pending.values()) waiter.reject(failure);
  pending.clear();
  // Its scripts refused by a restarted studio: say that, not what the worker's loader saw.
  const probe = await fetch("worker.js", { method: "HEAD", cache: "no-store" }).catch(() => null);
  if (probe?.status === 403) failure = refused();
  else showPageError(failure.message);
};

// One of the page's own files from its server.
export async function fetchOwn(path) {
  const response = await fetch(path);
  if (response.status === 403) throw refused();
  if (!response.ok) throw new Error(`${path}: the studio server answered ${response.status}`);
  return response;
}

// The expanded bytes of a file the report lists (a slot's or an entry's).
export async function bytesOf(file) {
  const answer = await ask({ type: "file", source: file.source, n: file.slot || file.index });
  if (answer.problem) throw new Error(`${file.name}: ${answer.problem}`);
  return answer.bytes;
}

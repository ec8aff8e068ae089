// The installer's window as the installer draws it: its controls where its own layout rules put
// them (the worker's layout, with and without a licence), the stored picture pixel for pixel, the
// movie playing, the licence in its memo. The drawing is a picture of a window, not controls to
// use: it is hidden from screen readers, and one line of words says what it shows.
import { ask, bytesOf } from "./client.js";
import { $, element, place } from "./dom.js";
import { playInto } from "./movies.js";

let layouts = null;  // the window's layout with and without a licence
let shownUrls = [];  // object URLs of the picture on show, freed with it

export async function loadLayouts() {
  if (!layouts) layouts = await ask({ type: "layout" });
  return layouts;
}

export function clearWindow() {
  for (const url of shownUrls) URL.revokeObjectURL(url);
  shownUrls = [];
  $("preview").replaceChildren();
  $("window-words").textContent = "";
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

const quoted = (text) => `“${text}”`;

// The drawing in words, for those who do not see it.
function windowWords(win, contentName) {
  const shows = { picture: "a picture", flash: `a Flash movie${contentName ? ` (${contentName})` : ""}`,
                  none: "an empty panel" }[win.content] || "an empty panel";
  const licence = win.has_license ? ", the licence in a scrolling box" : "";
  const buttons = win.has_license ? `the buttons ${quoted("Accept and Install")} and ${quoted("Decline")}`
                                  : `the button ${quoted("Install")}`;
  return `The window ${quoted(win.caption)}: ${shows}${licence}, a progress bar and ${buttons}.`;
}

function noWindow(text) {
  $("preview").append(element("p", { class: "no-window", text }));
  $("window-words").textContent = text;
}

// The window's frame and controls, laid out; returns the content panel and the image's place in it.
function drawFrame(win, layout) {
  const licence = win.has_license;
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
  $("preview").append(frame);
  // Inside the panel's 1-pixel bevel: children are placed from its inner corner.
  const inner = { left: layout.image.left - layout.content_panel.left - 1,
                  top: layout.image.top - layout.content_panel.top - 1,
                  width: layout.image.width, height: layout.image.height };
  return { panel, inner };
}

async function drawPicture(panel, inner, bytes) {
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
}

export async function showWindow(report) {
  clearWindow();
  const win = report.window;
  if (!win) return noWindow("No window: the installer cannot read its payload header.");
  if (!win.shown) return noWindow("A silent installer: no window is shown; the installation runs at once.");
  const all = await loadLayouts();
  const { panel, inner } = drawFrame(win, win.has_license ? all.withLicence : all.withoutLicence);
  const content = (report.files || []).find((f) => f.source === "slot" && f.slot === 3);
  $("window-words").textContent = windowWords(win, content?.name);
  if (!content || content.problem) return;
  if (win.content === "picture") {
    await drawPicture(panel, inner, await bytesOf(content));
  } else if (win.content === "flash") {
    // Ruffle is given only what is a movie: other bytes the player in the window would not show.
    if (!content.flash)
      return panel.append(element("p", { class: "problem", text: "The content is not a Flash movie." }));
    const bytes = await bytesOf(content);
    const stage = place(element("div", { class: "movie", id: "content-movie" }), inner);
    panel.append(stage);
    const frame = playInto(stage, bytes, content.name, inner.width, inner.height);
    frame.tabIndex = -1;  // a part of the drawing, which is not for the keyboard
  }
}

// The page's small helpers: elements made from names and text only (a name from a file is display
// text, never markup), placing a drawn control, the page's error line and its announcements.

export const $ = (id) => document.getElementById(id);

export function element(tag, attributes = {}, ...children) {
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

export function place(node, rect) {
  Object.assign(node.style, { left: `${rect.left}px`, top: `${rect.top}px`,
                              width: `${rect.width}px`, height: `${rect.height}px` });
  return node;
}

// 137512 as "137,512".
export const grouped = (n) => Number(n).toLocaleString("en-US");

export function showPageError(text) {
  const box = $("page-error");
  box.textContent = text;
  box.hidden = false;
}

export function hidePageError() {
  $("page-error").hidden = true;
}

// Said to a screen reader once, politely (the live region is visually hidden); the same words
// again are not said again.
let announced = "";
export function announce(text) {
  if (text === announced) return;
  announced = text;
  $("announce").textContent = text;
}

// A download of bytes under name, from the page itself.
export function saveBytes(bytes, name, type = "application/octet-stream") {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  const link = element("a", { href: url, download: name });
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

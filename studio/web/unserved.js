// Opened as a file (file://), the browser runs none of the page's modules and starts no worker
// for it, so nothing else would say anything: this classic script says what to do instead.
"use strict";

document.addEventListener("DOMContentLoaded", () => {
  if (location.protocol !== "file:") return;
  document.getElementById("not-served").hidden = false;
  document.getElementById("hint").hidden = true;
  for (const control of document.querySelectorAll("header .choose")) control.hidden = true;  // they would do nothing
});

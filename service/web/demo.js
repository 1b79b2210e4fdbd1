// The demo page: scans with the local service and shows each cheque as it
// comes. The service is the one named by ?service=URL, else this page's own.
import { OrvoScanner } from "./orvoscan.js";

const $ = (id) => document.getElementById(id);
const service = new URLSearchParams(location.search).get("service") || location.origin;
let scanner = null;
let scan = null;
let good = 0;
let bad = 0;

const reasons = {
  "feeder-empty": "Feeder empty",
  "scan-count": "Scan count reached",
  "jam": "Jam",
  "double-feed": "Double feed",
  "cover-open": "Cover open",
  "device-error": "Scanner error",
  "cancelled": "Cancelled",
};

function showError(text) {
  $("error").textContent = text;
  $("error").hidden = !text;
}

function totals() {
  const n = $("cheques").children.length;
  $("totals").textContent = `${n} cheque${n === 1 ? "" : "s"} · MICR OK ${good} · ERR ${bad}`;
}

// The MICR line with its unreadable characters ("?" and "_") marked.
function micrElement(cheque) {
  const span = document.createElement("div");
  span.className = "micr";
  if (cheque.micr === null) {
    span.textContent = "(no MICR)";
    return span;
  }
  if (!cheque.micrReadable) span.classList.add("unreadable");
  for (const ch of cheque.micr) {
    if (ch === "?" || ch === "_") {
      const b = document.createElement("span");
      b.className = "bad";
      b.textContent = ch;
      span.append(b);
    } else {
      span.append(ch);
    }
  }
  return span;
}

function pageElement(page, side) {
  if (!page) {
    const none = document.createElement("div");
    none.className = "none " + side;
    none.textContent = "no " + side;
    return none;
  }
  const img = document.createElement("img");
  img.className = side;
  img.crossOrigin = "anonymous";
  img.alt = page.name;
  img.title = `${page.name} (${page.width} × ${page.height})`;
  img.src = scanner.pageUrl(page.png);
  return img;
}

function addCheque(cheque) {
  const li = document.createElement("li");
  li.className = "cheque";
  li.dataset.number = cheque.number;
  const number = document.createElement("div");
  number.className = "number";
  number.textContent = String(cheque.number).padStart(7, "0");
  const info = document.createElement("div");
  info.append(micrElement(cheque));
  const defects = document.createElement("div");
  defects.className = "defects";
  if (cheque.defects.length === 0) {
    const ok = document.createElement("span");
    ok.className = "ok";
    ok.textContent = "image ok";
    defects.append(ok);
  }
  for (const d of cheque.defects) {
    const chip = document.createElement("span");
    chip.className = "defect";
    chip.textContent = d;
    defects.append(chip);
  }
  info.append(defects);
  li.append(number, pageElement(cheque.front, "front"), pageElement(cheque.rear, "rear"), info);
  $("cheques").prepend(li);
  if (cheque.micrReadable === true) good++;
  if (cheque.micrReadable === false) bad++;
  totals();
}

function showEnd(end) {
  const box = $("end");
  const reason = reasons[end.reason] || end.reason;
  box.dataset.reason = end.reason;
  box.className = ["feeder-empty", "scan-count", "cancelled"].includes(end.reason) ? "" : "problem";
  box.textContent = `${reason}: ${end.cheques} cheque${end.cheques === 1 ? "" : "s"} scanned.` +
      (end.message ? "\n" + end.message : "");
  box.hidden = false;
}

async function runScan() {
  showError("");
  $("end").hidden = true;
  $("cheques").replaceChildren();
  good = bad = 0;
  totals();
  $("scan").disabled = true;
  $("cancel").disabled = false;
  $("status").textContent = "scanning...";
  scan = scanner.scan({ profile: $("profile").value, startNumber: Number($("start").value) });
  try {
    for await (const cheque of scan) addCheque(cheque);
    const end = await scan.end;
    showEnd(end);
    if (end.nextStartNumber !== undefined) $("start").value = end.nextStartNumber;
  } catch (e) {
    showError(e.message);
  }
  $("scan").disabled = false;
  $("cancel").disabled = true;
  $("status").textContent = "ready";
}

async function main() {
  try {
    scanner = await OrvoScanner.connect(service);
  } catch (e) {
    $("status").textContent = "not connected";
    showError(e.message);
    return;
  }
  const info = scanner.info;
  $("scanner").textContent = info.scanner
      ? `${info.scanner.vendor} ${info.scanner.model} · driver ${info.driverVersion}`
      : "no scanner found";
  if (info.message) showError(info.message);
  for (const name of info.profiles) $("profile").append(new Option(name, name));
  $("status").textContent = info.busy ? "busy" : "ready";
  $("scan").disabled = info.profiles.length === 0;
  $("scan").addEventListener("click", runScan);
  $("cancel").addEventListener("click", async () => {
    $("cancel").disabled = true;
    try {
      await scanner.cancel();
    } catch (e) {
      showError(e.message);
    }
  });
}

main();

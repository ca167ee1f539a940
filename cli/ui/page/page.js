"use strict";
// The commissioning page: it draws the state the server streams (/api/events: the state whole
// when it connects, then only what changed) and asks for actions by POST. The key arrived in the
// address and the server set it as a cookie, so the address is cleaned of it: it stays out of
// the history and of screenshots.
const $ = (id) => document.getElementById(id);
if (location.search.includes("key=")) history.replaceState(null, "", location.pathname);

const columns = ["mac", "type", "address", "facility", "ip", "mask", "gateway", "server",
                 "unlock", "version", "identity", "via", "heard"];
const narrow = new Set(["facility", "mask", "gateway", "server", "version", "identity", "via"]);
let state = null, version = -1, clockOffset = 0, sortBy = "ip", sortDown = false;
const fresh = new Map(); // panel id -> when it appeared or changed (this computer's clock)
const selected = new Set(); // panel ids chosen for the batch change
let shown = [], lastClicked = null; // the panels as listed, for shift-click ranges

// Sets an element's content only when it changed: a button redrawn under the pointer or the
// keyboard's focus would lose the click or the focus.
const drawn = new WeakMap();
function setHtml(element, html) {
  if (drawn.get(element) === html) return false;
  element.innerHTML = html;
  drawn.set(element, html);
  return true;
}

function escape(text) {
  return String(text ?? "").replace(/[&<>"']/g, (c) =>
    ({ "&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;", "'": "&#39;" })[c]);
}
// IP addresses, call addresses and versions sort as numbers, part by part.
function sortKey(value) {
  return String(value ?? "").split(/(\d+)/).map((p, i) => (i % 2 ? Number(p) : p.toLowerCase()));
}
function compare(a, b) {
  const x = sortKey(a), y = sortKey(b);
  for (let i = 0; i < Math.min(x.length, y.length); i++)
    if (x[i] !== y[i]) return x[i] < y[i] ? -1 : 1;
  return x.length - y.length;
}
// A panel online has been heard in the last 3 s (the search runs every quarter second); one
// gone shows when it was last heard, by this computer's clock: a text that does not change
// every second keeps 2,000 rows from being drawn again every second.
function clock(ms) {
  return new Date(ms + clockOffset).toTimeString().slice(0, 8);
}

async function post(path, body) {
  const response = await fetch(path, {
    method: "POST", headers: { "Content-Type": "application/json" },
    body: JSON.stringify(body || {}), credentials: "same-origin" });
  const answer = await response.json().catch(() => ({}));
  if (!response.ok) addLocalLog(answer.error || response.statusText);
  return response.ok ? answer : null;
}
const localLog = [];
function addLocalLog(text) {
  localLog.push({ time: new Date().toTimeString().slice(0, 8), text });
  drawLog();
}

function drawHead() {
  const row = document.querySelector("#panels thead tr");
  row.innerHTML = columns.map((c) =>
    `<th class="${narrow.has(c) ? "wide" : ""}" aria-sort="${c === sortBy ? (sortDown ? "descending" : "ascending") : "none"}">` +
    `<button type="button" data-sort="${c}">${c}${c === sortBy ? (sortDown ? " ▼" : " ▲") : ""}</button></th>`).join("");
}
document.querySelector("#panels thead").addEventListener("click", (e) => {
  const c = e.target.closest("button")?.dataset.sort;
  if (!c) return;
  sortDown = c === sortBy ? !sortDown : false;
  sortBy = c;
  drawHead();
  drawPanels();
  document.querySelector(`#panels thead button[data-sort="${c}"]`).focus();
});
$("filter").addEventListener("input", () => drawPanels());

// The rows of the panels listed, by panel id, and the HTML each was made from: with 2,000 panels
// only the rows that changed are made again, and only rows out of place are moved.
const rowOf = new Map(), rowHtmlOf = new Map();
function panelRow(p, faultMacs) {
  const classes = [p.online ? "online" : "gone", faultMacs.has(p.mac) ? "fault" : "",
                   selected.has(p.id) ? "selected" : "",
                   Date.now() - (fresh.get(p.id) || 0) < 3000 ? "fresh" : ""].join(" ");
  return `<tr class="${classes}" data-id="${p.id}" data-mac="${escape(p.mac)}" data-ip="${escape(p.ip)}" aria-selected="${selected.has(p.id)}">` + columns.map((c) =>
    c === "heard"
      ? `<td class="heard">${p.online ? "online" : "gone, last heard " + clock(p.heard)}</td>`
      : `<td class="${narrow.has(c) ? "wide" : ""}">${escape(p[c])}</td>`).join("") + "</tr>";
}

// Draws the list filtered and sorted; `changed` names the panels whose rows may differ (null:
// any may, as after a click that selects or a snapshot).
function drawPanels(changed = null) {
  if (!state) return;
  const faultMacs = new Set(state.site.faults.flatMap((f) => f.macs));
  const words = $("filter").value.trim().toLowerCase().split(/\s+/).filter(Boolean);
  let panels = state.site.panels.filter((p) => {
    const text = columns.map((c) => p[c]).join(" ").toLowerCase();
    return words.every((w) => text.includes(w));
  });
  // Each panel's key is split once, not in every comparison, so that 2,000 rows sort in a few ms.
  const keyed = panels.map((p) => ({ p, key: sortBy === "heard" ? [-p.heard] : sortKey(p[sortBy]) }));
  keyed.sort((a, b) => {
    let order = 0;
    for (let i = 0; i < Math.min(a.key.length, b.key.length) && !order; i++)
      if (a.key[i] !== b.key[i]) order = a.key[i] < b.key[i] ? -1 : 1;
    if (!order) order = a.key.length - b.key.length;
    return sortDown ? -order : order;
  });
  panels = keyed.map((k) => k.p);
  shown = panels;
  const online = state.site.panels.filter((p) => p.online).length;
  $("counts").textContent = `${online} panel(s) answering` +
    (online < state.site.panels.length ? `, ${state.site.panels.length - online} gone` : "") +
    (panels.length < state.site.panels.length ? `; ${panels.length} shown` : "");
  const body = $("panels").tBodies[0], listed = new Set(panels.map((p) => p.id));
  for (const [id, row] of rowOf)
    if (!listed.has(id)) { row.remove(); rowOf.delete(id); rowHtmlOf.delete(id); }
  const made = [];
  for (const p of panels) {
    if (changed && rowOf.has(p.id) && !changed.has(p.id)) continue;
    const html = panelRow(p, faultMacs);
    if (rowHtmlOf.get(p.id) !== html) made.push([p.id, html]);
  }
  // The rows made again, parsed at once.
  const template = document.createElement("template");
  template.innerHTML = made.map((m) => m[1]).join("");
  [...template.content.children].forEach((row, i) => {
    const [id, html] = made[i];
    rowOf.get(id)?.replaceWith(row);
    rowOf.set(id, row);
    rowHtmlOf.set(id, html);
  });
  // A list drawn for the first time goes in at once, in one piece.
  if (!body.firstChild && made.length === panels.length) body.append(template.content);
  let at = body.firstChild;
  for (const p of panels) {
    const row = rowOf.get(p.id);
    if (row === at) at = at.nextSibling;
    else body.insertBefore(row, at);
  }
  setHtml($("faults"), state.site.faults.map((f) => `<li>${escape(f.text)}</li>`).join(""));
  $("batch-selected").textContent = selected.size ? `${selected.size} panel(s) selected.` :
    "Select panels in the list (click, shift-click for a range).";
}

// The report's address plan of the panels present, drawn as the report draws it: each /24
// block as 16 x 16 squares, one per address, in the colour the server decided. Drawn again only
// when the plan changed: the site's other changes leave it alone.
let drawnPlan = "";
function drawAddressPlan() {
  const plan = state.addressPlan;
  const text = JSON.stringify(plan || null);
  if (!plan || text === drawnPlan) return;
  drawnPlan = text;
  const size = 9, gap = 1, left = 24, top = 12, step = size + gap;
  $("address-legend").innerHTML = plan.blocks.length ? plan.legend.map((l) =>
    `<span class="swatch" style="color:${escape(l.colour)}">■</span> ${escape(l.meaning)}`).join(" &nbsp; ") : "No panel answered.";
  $("address-grids").innerHTML = plan.blocks.map((b) => {
    const used = new Map(b.used.map((u) => [u.last, u]));
    let squares = "";
    for (let c = 0; c < 16; c += 4)
      squares += `<text x="${left + c * step + 1}" y="9" font-size="7" fill="#666">${c}</text>`;
    for (let r = 0; r < 16; r++)
      squares += `<text x="0" y="${top + r * step + 8}" font-size="7" fill="#666">.${r * 16}</text>`;
    for (let last = 0; last < 256; last++) {
      const u = used.get(last);
      squares += `<rect x="${left + (last % 16) * step}" y="${top + Math.floor(last / 16) * step}" width="${size}" height="${size}" ` +
        `fill="${escape(u ? u.colour : plan.free)}" stroke="#999" stroke-width="0.5" data-last="${last}"${u ? ` data-kind="${escape(u.kind)}"` : ""}>` +
        `<title>${escape(u ? u.title : b.prefix + last + ": free")}</title></rect>`;
    }
    const name = b.prefix + "0/24";
    return `<div class="grid" data-block="${escape(name)}"><h4>${escape(name)}</h4>` +
      `<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 ${left + 16 * step} ${top + 16 * step}" role="img" aria-label="${escape(name)}">${squares}</svg></div>`;
  }).join("");
}

// Click selects a panel, shift-click the range from the last one clicked.
$("panels").tBodies[0].addEventListener("click", (e) => {
  if (!state || state.viewOnly) return;
  const id = Number(e.target.closest("tr")?.dataset.id);
  if (!id) return;
  const at = shown.findIndex((p) => p.id === id), from = shown.findIndex((p) => p.id === lastClicked);
  if (e.shiftKey && from >= 0) {
    for (let i = Math.min(at, from); i <= Math.max(at, from); i++) selected.add(shown[i].id);
  } else if (selected.has(id)) {
    selected.delete(id);
  } else {
    selected.add(id);
  }
  lastClicked = id;
  drawPanels();
});
$("select-all").addEventListener("click", () => { shown.forEach((p) => selected.add(p.id)); drawPanels(); });
$("select-none").addEventListener("click", () => { selected.clear(); drawPanels(); });

const planColumns = ["mac", "type", "address", "facility", "ip", "mask", "gateway", "server", "unlock"];
function csvCell(text) {
  text = String(text ?? "");
  return /[",;\n\r]/.test(text) || /^[=+\-@]/.test(text) ? '"' + text.replace(/"/g, '""') + '"' : text;
}
// The panels listed, as a plan `callpanel apply` takes.
$("export").addEventListener("click", () => {
  const lines = [planColumns.join(",")].concat(shown.map((p) => planColumns.map((c) => csvCell(p[c])).join(",")));
  const link = document.createElement("a");
  link.href = URL.createObjectURL(new Blob([lines.join("\r\n") + "\r\n"], { type: "text/csv" }));
  link.download = "site-" + new Date().toISOString().slice(0, 10) + ".csv";
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
});

function ipNumber(text) {
  const parts = String(text).trim().split(".");
  if (parts.length !== 4 || parts.some((p) => !/^\d{1,3}$/.test(p) || Number(p) > 255)) return null;
  return parts.reduce((n, p) => n * 256 + Number(p), 0);
}
function ipText(n) { return [24, 16, 8, 0].map((s) => Math.floor(n / 2 ** s) % 256).join("."); }
function stamp() {
  const d = new Date(), two = (n) => String(n).padStart(2, "0");
  return `${d.getFullYear()}-${two(d.getMonth() + 1)}-${two(d.getDate())}-${two(d.getHours())}${two(d.getMinutes())}${two(d.getSeconds())}`;
}

// The batch change as a plan of the selected panels in the order listed: written into the
// folder, then shown as its dry run; Apply writes it.
$("batch-form").addEventListener("submit", async (e) => {
  e.preventDefault();
  const panels = shown.filter((p) => selected.has(p.id));
  if (!panels.length) return addLocalLog("batch change: select panels first");
  const fields = ["mask", "gateway", "server", "unlock"].filter((f) => $(`batch-${f}-on`).checked);
  const header = ["mac"];
  let start = null;
  if ($("batch-ip-on").checked) {
    start = ipNumber($("batch-ip").value);
    if (start === null) return addLocalLog("batch change: the first IP is not an address A.B.C.D");
    header.push("ip");
  }
  header.push(...fields);
  if (header.length === 1) return addLocalLog("batch change: tick a field to change");
  const lines = [header.join(",")].concat(panels.map((p, i) => [p.mac]
    .concat(start === null ? [] : [ipText(start + i)])
    .concat(fields.map((f) => $(`batch-${f}`).value.trim())).map(csvCell).join(",")));
  const name = `batch-${stamp()}.csv`;
  if (await post("/api/file", { name, text: lines.join("\r\n") + "\r\n" }))
    post("/api/apply", { plan: name, dryRun: true });
});

function drawApply() {
  const apply = state.apply;
  $("apply").hidden = !apply;
  if (!apply) return;
  $("apply-summary").textContent = apply.dryRun
    ? `${apply.plan}: what it would write (dry run; nothing was written)`
    : `${apply.plan}: written` + (apply.undo ? `; undo plan ${apply.undo}` : "");
  setHtml($("apply-errors"), apply.errors.concat(apply.warnings.map((w) => "warning: " + w))
    .map((e) => `<li>${escape(e)}</li>`).join(""));
  setHtml($("apply-results").tBodies[0], apply.rows.map((r) =>
    `<tr data-mac="${escape(r.mac)}"><td>${escape(r.mac)}</td><td class="r-${escape(r.result.replace(/ /g, "-"))}">${escape(r.result)}</td>` +
    `<td>${escape(r.field ?? "")}</td><td>${escape(r.old ?? r.details ?? "")}</td><td>${escape(r.new ?? "")}</td></tr>`).join(""));
  const button = $("apply-run");
  button.hidden = !(apply.dryRun && !apply.errors.length && apply.rows.some((r) => r.result === "to write"));
  button.textContent = (apply.plan.startsWith("undo-") ? "Undo: write " : "Apply ") + apply.plan;
}
$("apply-run").addEventListener("click", () => {
  const { plan, plans } = state.apply;
  if (plan.startsWith("undo-") &&
      !confirm(`Put the panels back as ${plan} ${plans.length > 1 ? "hold" : "holds"} them?`)) return;
  post("/api/apply", { plans, dryRun: false });
});

// The folder's undo plans, newest first, each with its time and rows; the newest is ticked
// whenever the list changes (a new undo plan, another site), the person's ticks kept otherwise.
// Only a new list is drawn again, so that a box keeps the keyboard's focus as it is ticked.
function drawUndo() {
  const list = $("undo-plans"), plans = state.undoPlans || [];
  const html = plans.length ? plans.map((p) =>
    `<li><label><input type="checkbox" value="${escape(p.name)}"> ${escape(p.name)}: ${escape(p.time)}, ` +
    `${p.rows < 0 ? "not readable as a plan" : p.rows + " row(s)"}</label></li>`).join("") : "<li>none yet</li>";
  if (setHtml(list, html) && plans.length) list.querySelector("input").checked = true;
}
$("undo-run").addEventListener("click", () => {
  const plans = [...$("undo-plans").querySelectorAll("input:checked")].map((box) => box.value);
  if (!plans.length) return addLocalLog("undo: tick the undo plans to put back");
  post("/api/apply", { plans, dryRun: true });
});

function drawAssign() {
  const assign = state.assign;
  const schedules = state.files.filter((f) => f.name.toLowerCase().endsWith(".csv") && !f.undo && !f.asBuilt &&
                                              !f.name.startsWith("batch-"));
  const select = $("assign-schedule"), chosen = select.value;
  setHtml(select, schedules.map((f) => `<option>${escape(f.name)}</option>`).join(""));
  if ([...select.options].some((o) => o.value === chosen)) select.value = chosen;
  else if (assign && [...select.options].some((o) => o.value === assign.schedule)) select.value = assign.schedule;
  $("assign-stop").disabled = !(assign && assign.running);
  if (!assign) return;
  $("assign-waiting").textContent = assign.running ? assign.waiting || "searching the site…" : "not running";
  // The loss and lateness as the watch measures them, in the command line's words; after the
  // run, the last measured.
  $("assign-heard").textContent = assign.heard ? (assign.running ? "" : "measured: ") + assign.heard : "";
  const next = assign.rows.find((r) => r.state === "waiting");
  setHtml($("assign-together"), assign.together.length ?
    `New panels whose powering order is not sure: ${escape(assign.together.join(", "))}. Switch all but one off, or say which was powered first: ` +
    assign.together.map((mac) => `<button type="button" class="take action" data-take="${escape(mac)}">` +
      `${escape(mac)} takes row ${next ? next.row : ""}</button>`).join(" ") : "");
  setHtml($("assign-errors"), assign.errors.map((e) => `<li>${escape(e)}</li>`).join(""));
  setHtml($("assign-rows").tBodies[0], assign.rows.map((r) =>
    `<tr data-row="${r.row}"><td>${r.row}</td><td>${escape(r.note)}</td><td>${escape(r.address)}</td><td>${escape(r.ip)}</td>` +
    `<td>${escape(r.mac)}</td><td class="s-${escape(r.state.replace(/ /g, "-"))}">${escape(r.state)}</td><td>${escape(r.details)}</td></tr>`).join(""));
}
$("schedule-upload").addEventListener("change", async (e) => {
  const file = e.target.files[0];
  if (!file) return;
  const saved = await post("/api/file", { name: file.name, text: await file.text() });
  if (saved) $("assign-schedule").value = saved.name;
  e.target.value = "";
});
$("assign-form").addEventListener("submit", (e) => {
  e.preventDefault();
  post("/api/assign", { schedule: $("assign-schedule").value, inMacOrder: $("assign-mac-order").checked });
});
$("assign-stop").addEventListener("click", () => post("/api/stop", {}));
$("assign-together").addEventListener("click", (e) => {
  const mac = e.target.closest("button")?.dataset.take;
  if (mac) post("/api/choose", { mac });
});

function fillPlans(select, files, withNone) {
  const plans = files.filter((f) => f.name.toLowerCase().endsWith(".csv") && !f.undo);
  const chosen = select.value;
  // The as-built plans come first, because they say what the site was built to.
  plans.sort((a, b) => (b.asBuilt - a.asBuilt) || (b.modified - a.modified));
  setHtml(select, (withNone ? `<option value="">none: the site alone</option>` : "") +
    plans.map((f) => `<option>${escape(f.name)}</option>`).join(""));
  if ([...select.options].some((o) => o.value === chosen)) select.value = chosen;
}

function drawCheck() {
  const check = state.check;
  const body = $("check-results").tBodies[0];
  if (!check) { setHtml(body, ""); $("check-summary").textContent = ""; return; }
  setHtml(body, check.rows.map((r) =>
    `<tr data-mac="${escape(r.mac)}"><td>${escape(r.mac)}</td>` +
    `<td class="r-${r.result.replace(/ /g, "-")}">${escape(r.result)}</td><td>${escape(r.details)}</td></tr>`).join(""));
  $("check-summary").textContent = check.errors.length ? check.errors.join("; ")
    : `${check.plan}: ${check.passed ? "passed" : "not passed"}` + (check.short ? ` (${check.short})` : "");
}

let reportWindow = null, reportSeen, reportAsked = false;
function drawReport() {
  const report = state.report;
  const serial = report ? report.serial : 0;
  if (reportSeen === undefined) reportSeen = serial;
  const url = report ? "/files/" + encodeURIComponent(report.name) : "";
  setHtml($("report-done"), report ?
    `Written: <a href="${escape(url)}" target="_blank" rel="noopener">${escape(report.name)}</a>` : "");
  if (reportWindow && serial !== reportSeen) {
    reportWindow.location = url;
    reportWindow = null;
  } else if (reportWindow && reportAsked && !state.busy) {
    // The report was not written (the log says why), so the tab opened for it is closed.
    reportWindow.close();
    reportWindow = null;
  }
  reportSeen = serial;
}

function drawLog() {
  if (!state) return;
  const lines = state.log.concat(localLog);
  setHtml($("log"), lines.slice(-200).map((l) => `<li>${escape(l.time)} ${escape(l.text)}</li>`).join(""));
  $("log").scrollTop = $("log").scrollHeight;
}

function draw(changed, parts) {
  clockOffset = Date.now() - state.now;
  document.body.classList.toggle("view-only", state.viewOnly);
  const open = state.folder !== "";
  $("sites").hidden = open || state.viewOnly;
  $("site").hidden = !open && !state.viewOnly;
  $("check").hidden = !open && !state.viewOnly;
  for (const id of ["batch", "schedule", "undo"]) $(id).hidden = !open;
  $("report").hidden = !open;
  $("site-name").textContent = open ? "— " + state.folder.split(/[\\/]/).pop() : "";
  $("root").textContent = state.root;
  setHtml($("site-list"), state.sites.map((s) =>
    `<li><button type="button" data-site="${escape(s)}">${escape(s)}</button></li>`).join(""));
  const status = $("status");
  status.className = state.busy ? "busy" : "";
  status.textContent = state.busy ? `${state.busy} under way; searches paused` :
    state.viewOnly ? "view only; the site is searched every quarter second" : "searching the site every quarter second";
  for (const b of document.querySelectorAll(".action button:not(.stop):not(.take)")) b.disabled = !!state.busy;
  fillPlans($("check-plan"), state.files, false);
  fillPlans($("report-plan"), state.files, true);
  drawPanels(changed);
  if (!parts || parts.has("addressPlan")) drawAddressPlan();
  drawCheck();
  drawReport();
  drawApply();
  drawUndo();
  drawAssign();
  // The log scrolled to its end makes the browser lay out the page at once: only when it grew.
  if (!parts || parts.has("log")) drawLog();
}

$("site-list").addEventListener("click", (e) => {
  const name = e.target.closest("button")?.dataset.site;
  if (name) post("/api/site", { name });
});
$("new-site").addEventListener("submit", (e) => {
  e.preventDefault();
  post("/api/site", { name: $("new-site-name").value.trim(), create: true });
});
$("check-form").addEventListener("submit", (e) => {
  e.preventDefault();
  post("/api/check", { plan: $("check-plan").value });
});
$("report-form").addEventListener("submit", (e) => {
  e.preventDefault();
  // The tab is opened now, while the browser still allows it for this click; the report goes
  // into it once written.
  reportWindow = window.open("about:blank", "_blank");
  reportAsked = false;
  post("/api/report", { plan: $("report-plan").value }).then((ok) => {
    reportAsked = !!ok;
    if (!ok && reportWindow) { reportWindow.close(); reportWindow = null; }
  });
});

// What the events changed since the page was last drawn: the panels by id, or every row; the
// parts of the state by name (null: all).
let changedRows = new Set(), allRows = true, changedParts = null, drawing = false;
function redraw() {
  if (drawing) return;
  drawing = true;
  // Events that come faster than the page draws are drawn once: a backlog of draws would put
  // the page behind the site.
  setTimeout(() => {
    drawing = false;
    const changed = allRows ? null : changedRows, parts = changedParts;
    changedRows = new Set();
    changedParts = new Set();
    allRows = false;
    draw(changed, parts);
  }, 0);
}

// A delta names what changed by JSON Pointer: a panel's row is /site/panels/INDEX/..., a new one
// /site/panels/-. Anything else of the site (its faults light rows, rows removed move others)
// draws every row again.
function noteChange(steps, last, op) {
  const path = last === undefined ? [] : steps.concat([last]);
  if (path.length && path[0] !== "site") return;
  const newRow = op.op === "add" && path[2] === "-";
  if (path[1] !== "panels" || path.length < 3 || (path.length === 3 && !newRow && op.op !== "replace")) {
    allRows = true;
    return;
  }
  const p = newRow ? op.value : state.site.panels[Number(path[2])];
  // A row that is new or changed is lit for a moment, then drawn again unlit.
  changedRows.add(p.id);
  fresh.set(p.id, Date.now());
  setTimeout(() => { changedRows.add(p.id); redraw(); }, 3100);
}

// Applies a delta (JSON Patch: add, remove, replace) to the page's copy of the state.
function applyDelta(ops) {
  for (const op of ops) {
    const steps = op.path.split("/").slice(1).map((s) => s.replace(/~1/g, "/").replace(/~0/g, "~"));
    const last = steps.pop();
    if (last === undefined) changedParts = null;
    else if (changedParts) changedParts.add(steps.length ? steps[0] : last);
    if (last === undefined) {
      state = op.value;
    } else {
      let parent = state;
      for (const step of steps) parent = parent[step];
      if (Array.isArray(parent)) {
        if (op.op === "add") last === "-" ? parent.push(op.value) : parent.splice(Number(last), 0, op.value);
        else if (op.op === "remove") parent.splice(Number(last), 1);
        else parent[Number(last)] = op.value;
      } else if (op.op === "remove") {
        delete parent[last];
      } else {
        parent[last] = op.value;
      }
    }
    noteChange(steps, last, op);
  }
}

let stream = null;
function connect() {
  stream = new EventSource("/api/events");
  stream.addEventListener("snapshot", (e) => {
    const data = JSON.parse(e.data);
    state = data.state;
    version = data.version;
    allRows = true;
    changedParts = null;
    redraw();
  });
  stream.addEventListener("delta", (e) => {
    const data = JSON.parse(e.data);
    if (state === null || data.base !== version) {
      // Out of step (an event missed): a new stream starts with the state whole.
      stream.close();
      connect();
      return;
    }
    applyDelta(data.ops);
    version = data.version;
    redraw();
  });
  stream.onerror = () => {
    $("status").className = "lost";
    $("status").textContent = "no connection to callpanel; trying again…";
    // The browser tries again by itself, naming the last event it had, unless the answer was no
    // stream at all: then the page starts a new one.
    if (stream.readyState === EventSource.CLOSED) setTimeout(connect, 2000);
  };
}
// The site as it stands, asked for before the page has finished loading and waited for: the
// page counts as loaded (what the browser's loading indicator, a print or a screenshot wait
// for) only with the site drawn, never as empty tables that the live stream fills a moment
// later. The server answers from memory, so the wait is a few milliseconds; every change after
// it comes by the live stream.
function drawFirstState() {
  const request = new XMLHttpRequest();
  request.open("GET", "/api/state", false);
  try {
    request.send();
  } catch (e) {
    return; // the live stream says that there is no connection
  }
  if (request.status !== 200) return;
  // Drawn whole; the live stream's first event, the state whole with its version, follows.
  state = JSON.parse(request.responseText);
  draw(null, null);
}
drawHead();
drawFirstState();
connect();

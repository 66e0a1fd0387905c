// The live page: sessions as timeline rows, the selected session's events in order, and the
// latest SDK requests. Text from events is only ever set through textContent.
#include "LivePage.h"

namespace CorvaneSDK {
namespace Collector {

const char* LivePageHtml() {
  return R"HTML(<!doctype html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Corvane collector</title>
<style>
  :root { --bg:#f6f7f9; --card:#fff; --ink:#1d2330; --muted:#6b7385; --line:#e3e6ec; --accent:#2b6cb0; }
  * { box-sizing: border-box; }
  body { margin:0; font:14px/1.4 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; background:var(--bg); color:var(--ink); }
  header { display:flex; align-items:center; gap:16px; padding:12px 20px; background:var(--card); border-bottom:1px solid var(--line); flex-wrap:wrap; }
  h1 { font-size:17px; margin:0 12px 0 0; }
  .chip { background:var(--bg); border:1px solid var(--line); border-radius:14px; padding:3px 11px; }
  .chip b { font-variant-numeric: tabular-nums; }
  .chip.bad b { color:#c53030; }
  #status { margin-left:auto; color:var(--muted); font-size:12px; }
  #status.down { color:#c53030; font-weight:600; }
  main { padding:16px 20px; display:grid; grid-template-columns: minmax(0,1fr); gap:16px; }
  section { background:var(--card); border:1px solid var(--line); border-radius:8px; padding:12px 14px; }
  h2 { font-size:14px; margin:0 0 10px; color:var(--muted); text-transform:uppercase; letter-spacing:.04em; }
  h2 code { text-transform:none; letter-spacing:0; font-size:13px; color:var(--ink); }
  .session { display:grid; grid-template-columns: 250px minmax(0,1fr); gap:12px; align-items:center; padding:6px 4px; border-radius:6px; cursor:pointer; }
  .session:hover { background:#f0f4fa; }
  .session.selected { background:#e6effa; }
  .session .label { font-size:12px; }
  .session .label .id { font-family: ui-monospace, Menlo, Consolas, monospace; font-weight:600; font-size:13px; }
  .session .label .meta { color:var(--muted); }
  .strip { position:relative; height:34px; background:repeating-linear-gradient(90deg, #fafbfc, #fafbfc 49px, #eef0f4 50px); border:1px solid var(--line); border-radius:4px; }
  .mark { position:absolute; width:8px; height:8px; border-radius:2px; margin-left:-4px; opacity:.92; }
  .mark.sub { border-radius:50%; box-shadow:0 0 0 1px #fff; }
  .legend { display:flex; flex-wrap:wrap; gap:6px 14px; margin-top:10px; font-size:12px; color:var(--muted); }
  .legend span::before { content:""; display:inline-block; width:10px; height:10px; border-radius:2px; margin-right:5px; background:var(--c); vertical-align:-1px; }
  table { width:100%; border-collapse:collapse; font-size:13px; }
  th { text-align:left; color:var(--muted); font-weight:600; border-bottom:1px solid var(--line); padding:4px 6px; }
  td { border-bottom:1px solid #f0f1f4; padding:4px 6px; vertical-align:top; }
  td.num { font-variant-numeric: tabular-nums; white-space:nowrap; color:var(--muted); }
  td.name { white-space:nowrap; font-weight:600; }
  td.name .dot { display:inline-block; width:9px; height:9px; border-radius:2px; margin-right:6px; }
  tr.sub td.name { font-weight:400; padding-left:26px; }
  td.value { font-family: ui-monospace, Menlo, Consolas, monospace; font-size:12px; color:#37405a; word-break:break-all; }
  .empty { color:var(--muted); padding:8px 4px; }
  .req-ok { color:#2f855a; } .req-bad { color:#c53030; font-weight:600; } .req-info { color:#2b6cb0; }
  tr.info td.value { color:var(--muted); }
  .bar { position:absolute; opacity:.9; }
  .tools { display:flex; gap:10px; align-items:center; margin:0 0 10px; flex-wrap:wrap; }
  .tools input { font:inherit; padding:4px 8px; border:1px solid var(--line); border-radius:6px; min-width:260px; }
  .tools .hint { color:var(--muted); font-size:12px; }
  .pager { display:flex; gap:8px; align-items:center; margin-top:8px; font-size:12px; color:var(--muted); }
  .pager button { font:inherit; padding:2px 10px; border:1px solid var(--line); border-radius:6px; background:var(--card); cursor:pointer; }
  .pager button:disabled { opacity:.4; cursor:default; }
</style>
</head>
<body>
<header>
  <h1>Corvane collector</h1>
  <span class="chip">events <b id="c-events">0</b></span>
  <span class="chip">sessions <b id="c-sessions">0</b></span>
  <span class="chip" title="sessions of the mobile framework / of the desktop library">mobile / desktop <b id="c-clients">0 / 0</b></span>
  <span class="chip">users <b id="c-users">0</b></span>
  <span class="chip">uploads <b id="c-batches">0</b></span>
  <span class="chip" id="chip-dup">duplicates <b id="c-dup">0</b></span>
  <span class="chip" id="chip-rej" title="SDK requests answered with an error; an SDK config 404 for an app without a configuration here is informational and not counted">refused requests <b id="c-rej">0</b></span>
  <span id="status">connecting…</span>
</header>
<main>
  <section>
    <h2>Sessions (newest first)</h2>
    <div class="tools"><input id="filter" type="search" placeholder="filter by event name (e.g. level, ad_)" aria-label="filter by event name">
      <span class="hint" id="filter-hint"></span></div>
    <div id="sessions"></div>
    <div class="legend" id="legend"></div>
  </section>
  <section>
    <h2 id="detail-title">Events</h2>
    <div id="detail"></div>
  </section>
  <section>
    <h2>Latest SDK requests</h2>
    <div id="requests"></div>
  </section>
</main>
<script id="initial" type="application/json">{"initial":null}</script>
<script>
"use strict";
const REFRESH_MS = 2000;
const PAGE_ROWS = 200;
let selected = null;
let filter = "";
let page = 0;
let last = { sessions: null, events: null, requests: null };
const colors = {};
const fixed = { open: "#38a169", first_open: "#2f855a", deep_link: "#d53f8c", push_token: "#b83280",
                level_attempt: "#63b3ed", level_complete: "#2b6cb0", level_fail: "#e53e3e" };

function short(name) { return String(name).replace(/^qvsdk_/, ""); }
function colorOf(name) {
  const s = short(name);
  if (fixed[s]) return fixed[s];
  const prefix = s.split("_")[0];
  const families = { level: "#3182ce", ad: "#dd6b20", iap: "#805ad5", user: "#319795", boot: "#718096", account: "#2c7a7b" };
  if (families[prefix]) return families[prefix];
  if (!colors[s]) {
    let h = 0;
    for (const ch of s) h = (h * 31 + ch.charCodeAt(0)) >>> 0;
    colors[s] = "hsl(" + (h % 360) + ",55%,48%)";
  }
  return colors[s];
}
function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}
function clock(ms) { return new Date(ms).toLocaleTimeString([], { hour12: false }) + "." + String(ms % 1000).padStart(3, "0"); }
function duration(ms) {
  if (ms < 1000) return ms + " ms";
  if (ms < 60000) return (ms / 1000).toFixed(1) + " s";
  return Math.floor(ms / 60000) + " min " + Math.round((ms % 60000) / 1000) + " s";
}
async function getJson(path) {
  const r = await fetch(path, { cache: "no-store" });
  if (!r.ok) throw new Error(path + ": HTTP " + r.status);
  return r.json();
}

function renderStats(s) {
  document.getElementById("c-events").textContent = s.events;
  document.getElementById("c-sessions").textContent = s.sessions;
  const kinds = { mobile: 0, desktop: 0 };
  for (const c of s.byClient || []) kinds[c.client] = (kinds[c.client] || 0) + c.sessions;
  document.getElementById("c-clients").textContent = kinds.mobile + " / " + kinds.desktop;
  document.getElementById("c-users").textContent = s.users;
  document.getElementById("c-batches").textContent = s.batches;
  document.getElementById("c-dup").textContent = s.duplicates;
  document.getElementById("c-rej").textContent = s.rejected;
  document.getElementById("chip-dup").classList.toggle("bad", s.duplicates > 0);
  document.getElementById("chip-rej").classList.toggle("bad", s.rejected > 0);
}

function matches(name) { return !filter || String(name).toLowerCase().includes(filter); }

function renderSessions(list) {
  const box = document.getElementById("sessions");
  const legend = document.getElementById("legend");
  if (!list.length) {
    box.replaceChildren(el("div", "empty", "No events yet. Point the SDK's host and config URL at this collector."));
    legend.replaceChildren();
    return;
  }
  if (selected === null || !list.some(s => s.id === selected)) selected = list[0].id;
  box.replaceChildren();
  const seen = new Set();
  let shown = 0, total = 0;
  for (const s of list) {
    const row = el("div", "session" + (s.id === selected ? " selected" : ""));
    row.addEventListener("click", () => { selected = s.id; page = 0; refresh(); });
    const label = el("div", "label");
    label.append(el("div", "id", s.id ? s.id.slice(0, 8) : "(no session)"));
    // The span runs from the session's first event; each event sits at its own time.
    label.append(el("div", "meta", clock(s.firstMs) + " · " + duration(s.lastMs - s.firstMs) + " · " + s.events + " events"));
    label.append(el("div", "meta", "user " + String(s.userId).slice(0, 8) + " · " + s.platform + " " + s.appVersion));
    label.append(el("div", "meta", (s.client || "desktop") + " · SDK " + (s.sdkVersion || "?")));
    const strip = el("div", "strip");
    const span = Math.max(1, s.lastMs - s.firstMs);
    if (s.bins) {
      // A long session: one bar per slice of its span, as high as its (filtered) events.
      const counts = s.bins.map(bin => {
        let n = 0, top = null, topN = 0;
        for (const [name, c] of Object.entries(bin)) {
          seen.add(name);
          total += c;
          if (!matches(name)) continue;
          n += c;
          if (c > topN) { top = name; topN = c; }
        }
        shown += n;
        return { n, top, bin };
      });
      const max = Math.max(1, ...counts.map(c => c.n));
      counts.forEach((c, i) => {
        if (!c.n) return;
        // One stacked bar per slice: a segment per event name, as high as its share.
        const parts = Object.entries(c.bin).filter(([n]) => matches(n)).sort((a, b) => b[1] - a[1]);
        const height = Math.max(2, Math.round(30 * c.n / max));
        let bottom = 1;
        for (const [name, k] of parts) {
          const seg = el("div", "bar");
          const h = Math.max(1, Math.round(height * k / c.n));
          seg.style.left = (i * 100 / counts.length) + "%";
          seg.style.width = "calc(" + (100 / counts.length) + "% - 1px)";
          seg.style.bottom = bottom + "px";
          seg.style.height = h + "px";
          seg.style.background = colorOf(name);
          seg.title = "+" + duration(i * s.binMs) + ": " + c.n + " events (" +
            parts.slice(0, 6).map(([n, k2]) => short(n) + " ×" + k2).join(", ") + ")";
          strip.append(seg);
          bottom += h;
        }
      });
    } else {
      // Events close in time go to the next of three lanes, so that none hides another.
      const laneEnd = [-1, -1, -1];
      for (const e of (s.timeline || []).slice().sort((a, b) => a.timeMs - b.timeMs || a.seq - b.seq)) {
        seen.add(e.name);
        total += 1;
        if (!matches(e.name)) continue;
        shown += 1;
        const m = el("div", "mark" + (e.parentEId ? " sub" : ""));
        const x = 2 + 96 * (e.timeMs - s.firstMs) / span;
        let lane = laneEnd.findIndex(end => end < x - 1.2);
        if (lane < 0) lane = laneEnd.indexOf(Math.min(...laneEnd));
        laneEnd[lane] = x;
        m.style.left = x + "%";
        m.style.top = (3 + lane * 10) + "px";
        m.style.background = colorOf(e.name);
        m.title = short(e.name) + "  +" + duration(e.timeMs - s.firstMs);
        strip.append(m);
      }
    }
    row.append(label, strip);
    box.append(row);
  }
  document.getElementById("filter-hint").textContent =
    filter ? shown + " of " + total + " events in these sessions match" : "";
  legend.replaceChildren();
  for (const name of [...seen].sort()) {
    if (!matches(name)) continue;
    const item = el("span", null, short(name));
    item.style.setProperty("--c", colorOf(name));
    legend.append(item);
  }
}

function renderDetail(events) {
  const box = document.getElementById("detail");
  const title = document.getElementById("detail-title");
  const chosen = events.filter(e => matches(e.name));
  title.replaceChildren(document.createTextNode("Events of session "),
                        el("code", null, selected ? selected : "(none)"),
                        document.createTextNode(" (" + (filter ? chosen.length + " of " : "") + events.length + ")"));
  if (!events.length) { box.replaceChildren(el("div", "empty", selected === null ? "Select a session." : "No events.")); return; }
  const ordered = events.slice().sort((a, b) => a.timeMs - b.timeMs || a.seq - b.seq);
  const start = ordered[0].timeMs;
  const byParent = {};
  for (const e of ordered) if (e.parentEId) (byParent[e.parentEId] = byParent[e.parentEId] || []).push(e);
  // Rows in display order (parents followed by their sub-events), then filtered and paged.
  const rows = [];
  for (const e of ordered) {
    if (e.parentEId) continue;
    rows.push([e, false]);
    for (const child of byParent[e.eId] || []) rows.push([child, true]);
  }
  const kept = rows.filter(([e]) => matches(e.name));
  const pages = Math.max(1, Math.ceil(kept.length / PAGE_ROWS));
  page = Math.min(page, pages - 1);
  const table = el("table");
  const head = el("tr");
  for (const h of ["offset", "time", "event", "value", "config", "custom user"]) head.append(el("th", null, h));
  table.append(head);
  for (const [e, sub] of kept.slice(page * PAGE_ROWS, (page + 1) * PAGE_ROWS)) {
    const tr = el("tr", sub ? "sub" : "");
    tr.append(el("td", "num", "+" + duration(e.timeMs - start)));
    tr.append(el("td", "num", clock(e.timeMs)));
    const name = el("td", "name");
    const dot = el("span", "dot");
    dot.style.background = colorOf(e.name);
    name.append(dot, document.createTextNode((sub ? "↳ " : "") + e.name));
    tr.append(name);
    let value = JSON.stringify(e.value);
    if (value.length > 400) value = value.slice(0, 400) + "…";
    tr.append(el("td", "value", value));
    tr.append(el("td", "num", e.cfgId));
    tr.append(el("td", "num", e.customUid));
    table.append(tr);
  }
  const pager = el("div", "pager");
  const prev = el("button", null, "‹ earlier");
  const next = el("button", null, "later ›");
  prev.disabled = page === 0;
  next.disabled = page >= pages - 1;
  prev.addEventListener("click", () => { page -= 1; renderDetail(events); });
  next.addEventListener("click", () => { page += 1; renderDetail(events); });
  pager.append(prev, el("span", null, "page " + (page + 1) + " of " + pages + " · " + kept.length + " rows"), next);
  box.replaceChildren(table, pager);
}

function renderRequests(list) {
  const box = document.getElementById("requests");
  if (!list.length) { box.replaceChildren(el("div", "empty", "None yet.")); return; }
  const table = el("table");
  const head = el("tr");
  for (const h of ["time", "request", "status", "app", "note"]) head.append(el("th", null, h));
  table.append(head);
  for (const r of list) {
    const tr = el("tr", r.informational ? "info" : "");
    tr.append(el("td", "num", clock(r.timeMs)));
    tr.append(el("td", "name", r.method + " " + r.path));
    const cls = r.informational ? "req-info" : r.status >= 400 ? "req-bad" : "req-ok";
    tr.append(el("td", cls, String(r.status) + (r.informational ? " (info)" : "")));
    tr.append(el("td", "num", r.appId));
    tr.append(el("td", "value", r.note));
    table.append(tr);
  }
  box.replaceChildren(table);
}

function renderAll() {
  if (last.sessions) renderSessions(last.sessions);
  if (last.events) renderDetail(last.events);
}

async function refresh() {
  const status = document.getElementById("status");
  try {
    const [stats, sessions, requests] = await Promise.all([
      getJson("/api/stats"), getJson("/api/sessions?limit=20&events=1"), getJson("/api/requests?limit=15")]);
    renderStats(stats);
    last.sessions = sessions.sessions;
    renderSessions(last.sessions);
    renderRequests(requests.requests);
    if (selected !== null) {
      const detail = await getJson("/api/events?limit=2000&session=" + encodeURIComponent(selected));
      last.events = detail.events;
      renderDetail(last.events);
    } else {
      renderDetail([]);
    }
    status.textContent = "updated " + new Date().toLocaleTimeString([], { hour12: false });
    status.classList.remove("down");
  } catch (err) {
    status.textContent = "collector not reachable (" + err.message + ")";
    status.classList.add("down");
  }
}

// The state the server put into the page: shown at once, before the first poll.
(function renderInitial() {
  let state = null;
  try { state = JSON.parse(document.getElementById("initial").textContent); } catch (err) { state = null; }
  if (!state || state.initial === null) return;
  if (state.stats) renderStats(state.stats);
  if (state.selected) selected = state.selected;
  last.sessions = state.sessions || [];
  renderSessions(last.sessions);
  last.events = state.events || [];
  renderDetail(last.events);
  renderRequests(state.requests || []);
  document.getElementById("status").textContent = "loaded " + new Date().toLocaleTimeString([], { hour12: false });
})();
document.getElementById("filter").addEventListener("input", ev => {
  filter = ev.target.value.trim().toLowerCase();
  page = 0;
  renderAll();
});
refresh();
setInterval(refresh, REFRESH_MS);
</script>
</body>
</html>
)HTML";
}

}  // namespace Collector
}  // namespace CorvaneSDK

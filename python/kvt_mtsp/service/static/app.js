// The service's page: sends an instance as a job, follows its events, draws routes and the curve.
"use strict";

const COLOURS = ["#1f77b4", "#d62728", "#2ca02c", "#9467bd", "#ff7f0e", "#17becf", "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22"];
const $ = (id) => document.getElementById(id);
const state = { instance: null, objective: "min_sum", job: null, points: [], best: null, result: null, reader: null };

function headers(extra) {
  const h = Object.assign({}, extra || {});
  const token = $("token").value.trim();
  if (token) h.Authorization = "Bearer " + token;
  return h;
}

function setStatus(text, kind) {
  const s = $("status");
  s.textContent = text;
  s.className = "status " + (kind || "");
}

function colour(k) { return COLOURS[k % COLOURS.length]; }

function readInstance() {
  const doc = JSON.parse($("instance").value);
  state.instance = doc;
  const objective = doc && doc.options && doc.options.objective;
  state.objective = objective === "min_max" || objective === "MIN_MAX" ? "min_max" : "min_sum";
  return doc;
}

function value(entry) { return state.objective === "min_max" ? entry.max_cost : entry.sum_cost; }

function drawMap(routes) {
  const canvas = $("map"), g = canvas.getContext("2d");
  g.clearRect(0, 0, canvas.width, canvas.height);
  const doc = state.instance;
  if (!doc || !Array.isArray(doc.nodes) || doc.nodes.length === 0) return;
  const xs = doc.nodes.map((n) => Number(n.x)), ys = doc.nodes.map((n) => Number(n.y));
  const minX = Math.min(...xs), maxX = Math.max(...xs), minY = Math.min(...ys), maxY = Math.max(...ys);
  const pad = 24, span = Math.max(maxX - minX, maxY - minY) || 1;
  const scale = (canvas.width - 2 * pad) / span;
  const px = (x) => pad + (x - minX) * scale, py = (y) => canvas.height - pad - (y - minY) * scale;
  const where = new Map();
  doc.nodes.forEach((n) => where.set(Number(n.id), n));
  const depots = new Set();
  (doc.agents || []).forEach((a) => { depots.add(Number(a.start_node)); depots.add(Number(a.end_node)); });
  (routes || []).forEach((route, k) => {
    const path = route.path.map((id) => where.get(id)).filter((n) => n);
    if (path.length < 2) return;
    g.strokeStyle = colour(k);
    g.lineWidth = 2;
    g.beginPath();
    path.forEach((n, i) => (i ? g.lineTo(px(n.x), py(n.y)) : g.moveTo(px(n.x), py(n.y))));
    g.stroke();
  });
  doc.nodes.forEach((n) => {
    const x = px(Number(n.x)), y = py(Number(n.y));
    if (depots.has(Number(n.id))) {
      g.fillStyle = "#1d2430";
      g.fillRect(x - 6, y - 6, 12, 12);
    } else {
      g.fillStyle = "#fff";
      g.strokeStyle = "#1d2430";
      g.lineWidth = 1;
      g.beginPath();
      g.arc(x, y, 3.5, 0, 2 * Math.PI);
      g.fill();
      g.stroke();
    }
  });
  $("legend").innerHTML = (routes || []).map((r, k) => `<span style="--c:${colour(k)}">agent ${r.agent_id}</span>`).join("") +
    '<span style="--c:#1d2430">depot</span>';
}

function drawCurve() {
  const canvas = $("curve"), g = canvas.getContext("2d");
  g.clearRect(0, 0, canvas.width, canvas.height);
  const pts = state.points;
  $("points").textContent = pts.length + (pts.length === 1 ? " point" : " points");
  $("objective").textContent = state.objective === "min_max" ? "(longest route)" : "(total cost)";
  if (pts.length === 0) return;
  const left = 56, right = 12, top = 12, bottom = 28;
  const t1 = Math.max(...pts.map((p) => p.time)) || 1;
  const v0 = Math.min(...pts.map(value)), v1 = Math.max(...pts.map(value));
  const dv = v1 - v0 || Math.abs(v1) || 1;
  const X = (t) => left + (t / t1) * (canvas.width - left - right);
  const Y = (v) => top + (1 - (v - v0) / dv) * (canvas.height - top - bottom);
  g.strokeStyle = "#d7dce3";
  g.beginPath();
  g.moveTo(left, top); g.lineTo(left, canvas.height - bottom); g.lineTo(canvas.width - right, canvas.height - bottom);
  g.stroke();
  g.fillStyle = "#6b7380";
  g.font = "11px system-ui, sans-serif";
  g.fillText(v1.toFixed(1), 4, top + 8);
  g.fillText(v0.toFixed(1), 4, canvas.height - bottom);
  g.fillText("0 s", left, canvas.height - 10);
  g.fillText(t1.toFixed(2) + " s (processor)", canvas.width - right - 110, canvas.height - 10);
  g.strokeStyle = "#2b6cb0";
  g.lineWidth = 2;
  g.beginPath();
  pts.forEach((p, i) => {
    if (i) g.lineTo(X(p.time), Y(value(pts[i - 1])));
    i ? g.lineTo(X(p.time), Y(value(p))) : g.moveTo(X(p.time), Y(value(p)));
  });
  g.stroke();
  g.fillStyle = "#2b6cb0";
  pts.forEach((p) => { g.beginPath(); g.arc(X(p.time), Y(value(p)), 3, 0, 2 * Math.PI); g.fill(); });
}

function fillTable(routes) {
  $("agents").querySelector("tbody").innerHTML = (routes || []).map((r, k) => {
    const stops = Math.max(0, r.path.length - 2);
    return `<tr><td><span style="color:${colour(k)}">&#9632;</span> ${r.agent_id}</td><td class="num">${stops}</td>` +
      `<td class="num">${r.cost.toFixed(2)}</td><td class="route">${r.path.join(" &rarr; ")}</td></tr>`;
  }).join("");
}

function showFindings(title, findings) {
  const box = $("findings");
  const escape = (s) => String(s).replace(/[&<>]/g, (c) => ({ "&": "&amp;", "<": "&lt;", ">": "&gt;" }[c]));
  box.innerHTML = `<strong>${escape(title)}</strong><ul>` + (findings || []).map((f) =>
    `<li class="${f.severity}">${f.severity}: <code>${escape(f.path || "(document)")}</code> ${escape(f.message)}</li>`).join("") + "</ul>";
  box.hidden = false;
}

function showBest(entry) {
  state.best = entry;
  drawMap(entry.routes);
  fillTable(entry.routes);
}

function finish(kind, text) {
  $("start").disabled = false;
  $("stop").disabled = true;
  setStatus(text, kind);
}

function setResult(result) {
  state.result = result;
  if (result.routes && result.routes.length && result.status === "success") { drawMap(result.routes); fillTable(result.routes); }
  const link = $("download");
  if (link.href.startsWith("blob:")) URL.revokeObjectURL(link.href);
  link.href = URL.createObjectURL(new Blob([JSON.stringify(result, null, 1)], { type: "application/json" }));
  link.classList.remove("disabled");
}

async function follow(id) {
  const reply = await fetch(`/jobs/${id}/events`, { headers: headers() });
  if (!reply.ok) { finish("failed", "events: HTTP " + reply.status); return; }
  const reader = reply.body.getReader();
  state.reader = reader;
  const decoder = new TextDecoder();
  let buffer = "";
  for (;;) {
    const { value: chunk, done } = await reader.read();
    if (done) break;
    buffer += decoder.decode(chunk, { stream: true });
    let cut;
    while ((cut = buffer.indexOf("\n\n")) >= 0) {
      const block = buffer.slice(0, cut);
      buffer = buffer.slice(cut + 2);
      const fields = {};
      block.split("\n").forEach((line) => {
        if (!line || line.startsWith(":")) return;
        const at = line.indexOf(": ");
        fields[line.slice(0, at)] = line.slice(at + 2);
      });
      if (!fields.event) continue;
      const data = JSON.parse(fields.data);
      if (fields.event === "improvement") {
        state.points.push(data);
        showBest(data);
        drawCurve();
        setStatus(`running: ${state.points.length} solutions, best ${value(data).toFixed(2)}`, "running");
      } else if (fields.event === "result") {
        setResult(data);
        const job = await (await fetch(`/jobs/${id}`, { headers: headers() })).json();
        const best = data.status === "success" ? ` best ${value(data.statistics).toFixed(2)}` : " no solution";
        finish(job.status, `${job.status}:${best}`);
      } else {
        finish(data.status, `${data.status}: ${data.error}`);
      }
    }
  }
}

async function start() {
  let doc;
  $("findings").hidden = true;
  try { doc = readInstance(); } catch (err) { showFindings("Not JSON: " + err.message, []); setStatus("refused", "refused"); return; }
  const body = { instance: doc, improve: $("improve").checked };
  const budget = parseFloat($("time_limit").value);
  if (budget > 0) body.time_limit = budget;
  const seed = $("seed").value.trim();
  if (seed !== "") body.seed = parseInt(seed, 10);
  state.points = []; state.best = null; state.result = null;
  $("download").classList.add("disabled");
  drawMap([]); drawCurve(); fillTable([]);
  const reply = await fetch("/jobs", { method: "POST", headers: headers({ "Content-Type": "application/json" }), body: JSON.stringify(body) });
  const answer = await reply.json();
  if (!reply.ok) {
    showFindings(answer.detail, answer.findings);
    setStatus(`refused (HTTP ${reply.status})`, "refused");
    return;
  }
  state.job = answer.id;
  $("start").disabled = true;
  $("stop").disabled = false;
  setStatus("queued", "running");
  const job = await (await fetch(`/jobs/${answer.id}`, { headers: headers() })).json();
  const warnings = (job.findings || []).filter((f) => f.severity === "warning");
  if (warnings.length) showFindings("The check's findings", warnings);
  await follow(answer.id);
}

async function stop() {
  if (!state.job) return;
  $("stop").disabled = true;
  await fetch(`/jobs/${state.job}`, { method: "DELETE", headers: headers() });
}

async function loadExamples() {
  try {
    const reply = await fetch("/examples", { headers: headers() });
    if (!reply.ok) return;
    const select = $("example");
    (await reply.json()).forEach((name) => {
      const o = document.createElement("option");
      o.value = o.textContent = name;
      select.appendChild(o);
    });
  } catch (err) { /* the examples are a convenience */ }
}

function useText(text) {
  $("instance").value = text;
  try { readInstance(); drawMap([]); } catch (err) { /* shown on start */ }
}

$("example").addEventListener("change", async (e) => {
  if (!e.target.value) return;
  const reply = await fetch(`/examples/${e.target.value}`, { headers: headers() });
  useText(JSON.stringify(await reply.json(), null, 1));
});
const drop = document.body;
drop.addEventListener("dragover", (e) => { e.preventDefault(); $("drop").classList.add("over"); });
drop.addEventListener("dragleave", () => $("drop").classList.remove("over"));
drop.addEventListener("drop", async (e) => {
  e.preventDefault();
  $("drop").classList.remove("over");
  const file = e.dataTransfer.files[0];
  if (file) useText(await file.text());
});
$("instance").addEventListener("change", () => useText($("instance").value));
$("start").addEventListener("click", () => start().catch((err) => finish("failed", String(err))));
$("stop").addEventListener("click", () => stop());
loadExamples();
drawCurve();

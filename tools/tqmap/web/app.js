// The web view's script, served as /static/app.js: it reads the page's view
// from the body and fills it from the JSON API.
'use strict';
const body = document.body, view = body.dataset.view, submapId = +body.dataset.submap;
// The statuses, in legend order, as the server gives them: value, name,
// severity and the pictures' fill and line colours.
const STATUSES = JSON.parse(body.dataset.statuses);
const ST = {}, RANK = {};
STATUSES.forEach((s) => { ST[s.value] = [s.name, s.fill, s.line]; RANK[s.value] = s.severity; });
const $ = (s) => document.querySelector(s);
const el = (tag, text, attrs) => { const e = document.createElement(tag); if (text != null) e.textContent = text;
  for (const k in (attrs || {})) e.setAttribute(k, attrs[k]); return e; };
const getJson = (u) => fetch(u, {cache: 'no-store'}).then((r) => r.ok ? r.json() : Promise.reject(r.status));
let state = {layoutKey: null, selected: null, data: null};

// The minimum severity stays set across pages.
const minSel = $('#min');
STATUSES.filter((s) => s.name !== 'normal').sort((a, b) => a.severity - b.severity)
  .forEach((s) => minSel.append(el('option', s.name, {value: s.name})));
minSel.value = localStorage.getItem('tqmap.min') || 'unmanaged';
minSel.onchange = () => { localStorage.setItem('tqmap.min', minSel.value); refresh(); };
const minRank = () => RANK[Object.keys(ST).find((k) => ST[k][0] === minSel.value)];

function legend() {
  const f = $('#legend'); f.textContent = '';
  STATUSES.forEach((s) => { const c = el('span', s.name, {class: 'chip'});
    c.style.background = s.fill; c.style.borderColor = s.line; f.append(c); });
  f.append(el('span', ' dashed line: critical; purple dot: status changed in the last 30 minutes'));
}

function crumbs(path) {
  const n = $('#crumbs'); n.textContent = '';
  (path || []).forEach((p, i) => { if (i) n.append(' > ');
    n.append(el('a', p.title, {href: '/submap/' + p.id})); });
}

// Colours one drawn symbol or connection by status, in place.
function paint(g, s) {
  const c = ST[s.effectiveStatus] || ['', '#fff', '#555'];
  g.setAttribute('class', g.getAttribute('class').replace(/\bst\d+\b/, 'st' + s.effectiveStatus));
  g.dataset.status = ST[s.effectiveStatus] ? ST[s.effectiveStatus][0] : '';
  const shapes = g.querySelectorAll('polygon, ellipse, path, polyline');
  if (s.kind === 'connection') {
    shapes.forEach((p) => { p.setAttribute('stroke', c[2]); if (p.tagName === 'polygon') p.setAttribute('fill', c[2]); });
    g.querySelectorAll('path').forEach((p) => p.setAttribute('stroke-dasharray', s.effectiveStatus === 2 ? '5,2' : ''));
  } else {
    shapes.forEach((p) => { if (p.getAttribute('fill') !== 'none') p.setAttribute('fill', c[1]); p.setAttribute('stroke', c[2]); });
  }
  g.classList.toggle('hidden-by-filter', s.kind !== 'connection' && RANK[s.effectiveStatus] < minRank() && s.effectiveStatus !== 1 ? true :
    s.kind !== 'connection' && minRank() > 1 && s.effectiveStatus === 1);
  let mark = g.querySelector('.recent-mark');
  if (s.recent && !mark && s.kind !== 'connection') {
    const shape = g.querySelector('polygon, ellipse, path'); if (!shape) return;
    const b = shape.getBBox();
    mark = document.createElementNS('http://www.w3.org/2000/svg', 'circle');
    mark.setAttribute('class', 'recent-mark'); mark.setAttribute('r', 5);
    mark.setAttribute('cx', b.x + b.width); mark.setAttribute('cy', b.y);
    mark.append(document.createElementNS('http://www.w3.org/2000/svg', 'title')); mark.firstChild.textContent = 'recently changed';
    g.append(mark);
  } else if (!s.recent && mark) mark.remove();
}

// The drawing and the layout key it was made for.
const getDrawing = () => fetch('/api/submap/' + submapId + '/svg' + tqNav.query(), {cache: 'no-store'})
  .then((r) => r.text().then((svg) => ({svg, key: r.headers.get('X-Layout-Key')})));

async function loadSubmap() {
  // The first time, the drawing is asked for beside the data rather than
  // after it; it is used when made for the same layout.
  const early = state.layoutKey === null ? getDrawing() : null;
  const data = await getJson('/api/submap/' + submapId + tqNav.query());
  state.data = data; crumbs(data.path); document.title = data.title + ' - map';
  const box = $('#view');
  if (data.layoutKey !== state.layoutKey) {
    const sx = box.scrollLeft, sy = box.scrollTop;
    let drawing = early ? await early : null;
    if (!drawing || drawing.key !== data.layoutKey) drawing = await getDrawing();
    const svg = drawing.svg;
    box.innerHTML = svg; box.scrollLeft = sx; box.scrollTop = sy;
    tqNav.drawn(box);
    state.layoutKey = data.layoutKey;
    box.querySelectorAll('g.node').forEach((g) => g.addEventListener('click', (ev) => {
      if (g.classList.contains('graph')) return;   // its link opens the submap
      ev.preventDefault(); select(+g.id.slice(1));
    }));
  }
  const all = data.symbols.concat(data.connections);
  all.forEach((s) => { const g = document.getElementById('s' + s.id); if (g) paint(g, s); });
  tqNav.painted(data);
  box.dataset.layoutKey = data.layoutKey;
  if (state.selected && data.placement === 'layered') tqNav.reveal(state.selected);
  if (state.selected) select(state.selected, true);
  else if (tqNav.pendingConnection) tqNav.showConnection(tqNav.pendingConnection);
}

async function select(symbolId, quiet) {
  state.selected = symbolId;
  document.querySelectorAll('g.node.selected').forEach((g) => g.classList.remove('selected'));
  const g = document.getElementById('s' + symbolId); if (g) g.classList.add('selected');
  const s = state.data && state.data.symbols.concat(state.data.connections).find((x) => x.id === symbolId);
  if (!s) return;
  history.replaceState(null, '', '#sel=' + symbolId);
  showObject(s.object, quiet);
}

function ageText(s) {
  return s < 120 ? s + ' s' : s < 7200 ? Math.floor(s / 60) + ' min' : s < 172800 ? Math.floor(s / 3600) + ' h' :
    Math.floor(s / 86400) + ' days';
}

async function showObject(objectId) {
  const o = await getJson('/api/object/' + objectId);
  const d = $('#details'); d.textContent = '';
  d.append(el('h3', o.name), el('div', 'object id ' + o.id), el('div', 'selection name ' + o.selectionName));
  tqNav.detailsShown(d, o);
  o.symbols.forEach((s) => d.append(el('div', 'symbol #' + s.id + ' ' + s.kind + ': ' + s.statusName +
    (s.effectiveStatus !== s.status ? ' (shows ' + s.effectiveStatusName + ')' : ''))));
  const why = o.statusReason;
  if (why && (why.state != null || why.lastChange)) {
    d.append(el('h4', 'why this status'));
    if (why.state != null) d.append(el('div', 'state: ' + why.state));
    if (why.lastChange) d.append(el('div', 'last change ' + why.lastChange.oldName + ' -> ' + why.lastChange.newName +
      ', ' + new Date(why.lastChange.time).toLocaleString() + ' (' + ageText(why.ageSeconds) + ' ago)'));
  }
  d.append(el('h4', 'appears on'));
  o.appearsOn.forEach((a) => { const p = el('div'); p.append(el('a', a.title, {href: '/submap/' + a.submap + '#sel=' + a.symbol}));
    d.append(p); });
  d.append(el('h4', 'fields')); const t = el('table');
  Object.entries(o.fields).forEach(([k, v]) => { const r = el('tr'); r.append(el('td', k), el('td', JSON.stringify(v))); t.append(r); });
  d.append(t);
  if (o.connections.length) { d.append(el('h4', 'connections'));
    o.connections.forEach((c) => d.append(el('div', (c.label || '#' + c.id) + ' to ' + (c.other || '?') + ': ' + c.effectiveStatusName))); }
}

function row(cells) { const r = el('tr'); cells.forEach((c) => { const td = el('td'); td.append(c); r.append(td); }); return r; }
function link(text, href) { return el('a', text, {href}); }

async function loadProblems() {
  const data = await getJson('/api/problems?min=' + encodeURIComponent(minSel.value));
  crumbs([{id: (await getJson('/api/map')).rootSubmap, title: 'root submap'}]);
  const box = $('#view'); box.textContent = ''; box.append(el('h2', 'Problems (' + data.problems.length + ')'));
  const t = el('table', null, {class: 'list'});
  data.problems.forEach((p) => { const st = el('span', p.effectiveStatusName); st.style.background = ST[p.effectiveStatus][1];
    t.append(row([st, link(p.name, '/submap/' + p.submap + '#sel=' + p.id), el('span', p.kind), el('span', p.submapTitle),
      el('span', p.recent ? 'recently changed' : '', {class: 'recent'})])); });
  box.append(t);
}

async function loadChanges() {
  const data = await getJson('/api/changes?limit=200');
  crumbs([{id: (await getJson('/api/map')).rootSubmap, title: 'root submap'}]);
  const box = $('#view'); box.textContent = ''; box.append(el('h2', 'Recent changes'));
  const t = el('table', null, {class: 'list'});
  data.changes.forEach((c) => t.append(row([el('span', new Date(c.time).toLocaleString()), el('span', c.kind),
    c.submap ? link(c.name || ('object ' + c.object), '/submap/' + c.submap + '#sel=' + c.symbol) : el('span', c.name || ''),
    el('span', c.kind === 'status' ? c.oldName + ' -> ' + c.newName : (c.old || '') + (c.new != null ? ' -> ' + c.new : ''))])));
  box.append(t);
}

async function loadSearch() {
  const q = new URLSearchParams(location.search).get('q') || ''; $('#q').value = q;
  const data = await getJson('/api/search?q=' + encodeURIComponent(q));
  crumbs([{id: (await getJson('/api/map')).rootSubmap, title: 'root submap'}]);
  const box = $('#view'); box.textContent = ''; box.append(el('h2', (data.results.length < data.total ?
    data.results.length.toLocaleString('en') + ' of ' + data.total.toLocaleString('en') + ' shown' :
    data.total + ' found') + ' for "' + q + '"'));
  const t = el('table', null, {class: 'list'});
  data.results.forEach((o) => { const where = el('span');
    o.appearsOn.forEach((a) => { where.append(link(a.path.map((p) => p.title).join(' > '), '/submap/' + a.submap + '#sel=' + a.symbol), ' '); });
    t.append(row([el('span', o.name), el('span', 'matched ' + o.matched), where])); });
  box.append(t);
}

const loaders = {submap: loadSubmap, problems: loadProblems, changes: loadChanges, search: loadSearch};
function refresh() { return loaders[view]().catch((e) => { $('#live').textContent = 'error ' + e; }); }

// The banner says when what the page shows may be old: the server cannot be
// reached, or the map has not changed for an hour (with what the daemon's run
// counters say: running, or ended, and when it last applied a frame).
const STALE_S = 3600;
const when = (s) => new Date(s * 1000).toLocaleString();
let lostSince = null;
function banner(text) { const b = $('#banner'); b.textContent = text || ''; b.hidden = !text; }
async function checkStale() {
  if (lostSince) return banner('The server cannot be reached since ' + lostSince.toLocaleString() +
    '; what is shown may be out of date.');
  try {
    const st = await getJson('/api/status');
    const age = Date.now() / 1000 - st.lastCommit;
    if (age < STALE_S) return banner(null);
    let daemon = ' No run counters: the daemon never reported on this map.';
    if (st.daemon) daemon = st.daemon.ended ? ' The daemon ended its run (last report ' + when(st.daemon.updated) + ').' :
      ' The daemon was running at its last report, ' + when(st.daemon.updated) + ', having applied ' + st.daemon.applied + ' messages.';
    banner('The map has not changed since ' + when(st.lastCommit) + '.' + daemon);
  } catch (e) { lostSince = lostSince || new Date(); checkStale(); }
}

legend();
const sel = /#sel=(\d+)/.exec(location.hash); if (sel) state.selected = +sel[1];
refresh().then(() => { body.dataset.ready = '1'; });
// ?live=0: a still page (for printing and pictures), no event stream.
if (new URLSearchParams(location.search).get('live') === '0') {
  $('#live').textContent = 'still view';
  checkStale();
} else {
  const events = new EventSource('/api/events');
  events.addEventListener('map', (e) => { $('#live').textContent = 'live, map version ' + e.data; lostSince = null;
    if (body.dataset.ready) refresh(); checkStale(); });
  events.onerror = () => { $('#live').textContent = 'reconnecting'; lostSince = lostSince || new Date(); checkStale(); };
  // Once a minute: recently-changed marks expire, and the banner follows the age of the map.
  setInterval(() => { if (body.dataset.ready) refresh(); checkStale(); }, 60000);
}

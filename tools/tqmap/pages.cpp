// The web view's pages and assets, all served by the binary (no network).
#include "tools/tqmap/server.h"

#include <httplib.h>

namespace tqmap {

namespace {

// One shell for every page; the script reads the view from the body.
std::string shell(const std::string &view, int submap)
{
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
           "<title>map</title><link rel=\"stylesheet\" href=\"/static/app.css\"></head>\n"
           "<body data-view=\"" + view + "\" data-submap=\"" + std::to_string(submap) + "\">\n"
           "<header><nav id=\"crumbs\"></nav>"
           "<form id=\"search\" action=\"/search\"><input name=\"q\" id=\"q\" placeholder=\"find a device\"></form>"
           "<a href=\"/problems\">problems</a> <a href=\"/changes\">changes</a>"
           "<label>show at least <select id=\"min\"></select></label><span id=\"live\">connecting</span></header>\n"
           "<main><section id=\"view\"></section><aside id=\"details\"><p class=\"hint\">Click a symbol for its "
           "details.</p></aside></main>\n"
           "<footer id=\"legend\"></footer>\n<script src=\"/static/app.js\"></script>\n</body></html>\n";
}

const char kCss[] = R"CSS(
body{margin:0;font:14px/1.4 sans-serif;color:#212121;background:#fafafa}
header{display:flex;gap:12px;align-items:center;padding:6px 12px;background:#263238;color:#eceff1;flex-wrap:wrap}
header a{color:#b3e5fc} #crumbs a{color:#fff} #live{margin-left:auto;font-size:12px;color:#90a4ae}
main{display:flex;height:calc(100vh - 84px)} #view{flex:1;overflow:auto;padding:8px}
#details{width:340px;overflow:auto;border-left:1px solid #cfd8dc;padding:8px;background:#fff}
#details table{border-collapse:collapse;font-size:12px} #details td{border-bottom:1px solid #eceff1;padding:2px 4px;vertical-align:top}
footer{padding:4px 12px;font-size:12px} .chip{display:inline-block;padding:1px 6px;margin-right:4px;border:1px solid #999;border-radius:3px}
g.node{cursor:pointer} g.node.selected :is(polygon,ellipse,path){stroke-width:4px;stroke:#1a237e}
.recent-mark{fill:#d500f9;stroke:#fff} .recent{font-weight:bold;color:#8e24aa}
table.list{border-collapse:collapse} table.list td,table.list th{padding:2px 8px;border-bottom:1px solid #e0e0e0;text-align:left}
.hidden-by-filter{opacity:.25}
)CSS";

// Status colours (fill, line), the same as the pictures'.
const char kJs[] = R"JS(
'use strict';
const ST = {0:['unknown','#9ec5fe','#1565c0'],1:['normal','#8fd19e','#2e7d32'],2:['critical','#f28b82','#c62828'],
  3:['marginal','#fde293','#b08800'],4:['major','#fcad70','#e65100'],5:['unmanaged','#e8e0d0','#8d7b5a'],
  6:['minor','#f3f09a','#827717'],7:['warning','#b2ebf2','#00838f']};
const RANK = {5:0,0:1,1:2,7:3,6:4,3:5,4:6,2:7};
const body = document.body, view = body.dataset.view, submapId = +body.dataset.submap;
const $ = (s) => document.querySelector(s);
const el = (tag, text, attrs) => { const e = document.createElement(tag); if (text != null) e.textContent = text;
  for (const k in (attrs || {})) e.setAttribute(k, attrs[k]); return e; };
const getJson = (u) => fetch(u, {cache: 'no-store'}).then((r) => r.ok ? r.json() : Promise.reject(r.status));
let state = {layoutKey: null, selected: null, data: null};

// The minimum severity stays set across pages.
const minSel = $('#min');
['unmanaged','unknown','warning','minor','marginal','major','critical'].forEach((n) => minSel.append(el('option', n, {value: n})));
minSel.value = localStorage.getItem('tqmap.min') || 'unmanaged';
minSel.onchange = () => { localStorage.setItem('tqmap.min', minSel.value); refresh(); };
const minRank = () => RANK[Object.keys(ST).find((k) => ST[k][0] === minSel.value)];

function legend() {
  const f = $('#legend'); f.textContent = '';
  [1,7,6,3,4,2,0,5].forEach((s) => { const c = el('span', ST[s][0], {class: 'chip'});
    c.style.background = ST[s][1]; c.style.borderColor = ST[s][2]; f.append(c); });
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

async function loadSubmap() {
  const data = await getJson('/api/submap/' + submapId);
  state.data = data; crumbs(data.path); document.title = data.title + ' - map';
  const box = $('#view');
  if (data.layoutKey !== state.layoutKey) {
    const sx = box.scrollLeft, sy = box.scrollTop;
    const svg = await fetch('/api/submap/' + submapId + '/svg', {cache: 'no-store'}).then((r) => r.text());
    box.innerHTML = svg; box.scrollLeft = sx; box.scrollTop = sy;
    state.layoutKey = data.layoutKey;
    box.querySelectorAll('g.node').forEach((g) => g.addEventListener('click', (ev) => {
      if (g.classList.contains('graph')) return;   // its link opens the submap
      ev.preventDefault(); select(+g.id.slice(1));
    }));
  }
  const all = data.symbols.concat(data.connections);
  all.forEach((s) => { const g = document.getElementById('s' + s.id); if (g) paint(g, s); });
  box.dataset.layoutKey = data.layoutKey;
  if (state.selected) select(state.selected, true);
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

async function showObject(objectId) {
  const o = await getJson('/api/object/' + objectId);
  const d = $('#details'); d.textContent = '';
  d.append(el('h3', o.name), el('div', 'object id ' + o.id), el('div', 'selection name ' + o.selectionName));
  o.symbols.forEach((s) => d.append(el('div', 'symbol #' + s.id + ' ' + s.kind + ': ' + s.statusName +
    (s.effectiveStatus !== s.status ? ' (shows ' + s.effectiveStatusName + ')' : ''))));
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
  const box = $('#view'); box.textContent = ''; box.append(el('h2', data.total + ' found for "' + q + '"'));
  const t = el('table', null, {class: 'list'});
  data.results.forEach((o) => { const where = el('span');
    o.appearsOn.forEach((a) => { where.append(link(a.path.map((p) => p.title).join(' > '), '/submap/' + a.submap + '#sel=' + a.symbol), ' '); });
    t.append(row([el('span', o.name), el('span', 'matched ' + o.matched), where])); });
  box.append(t);
}

const loaders = {submap: loadSubmap, problems: loadProblems, changes: loadChanges, search: loadSearch};
function refresh() { return loaders[view]().catch((e) => { $('#live').textContent = 'error ' + e; }); }

legend();
const sel = /#sel=(\d+)/.exec(location.hash); if (sel) state.selected = +sel[1];
refresh().then(() => { body.dataset.ready = '1'; });
// ?live=0: a still page (for printing and pictures), no event stream.
if (new URLSearchParams(location.search).get('live') === '0') {
  $('#live').textContent = 'still view';
} else {
  const events = new EventSource('/api/events');
  events.addEventListener('map', (e) => { $('#live').textContent = 'live, map version ' + e.data; if (body.dataset.ready) refresh(); });
  events.onerror = () => { $('#live').textContent = 'reconnecting'; };
}
)JS";

}  // namespace

void addPageRoutes(httplib::Server &server, MapView &view)
{
    auto page = [](httplib::Response &res, const std::string &html) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(html, "text/html; charset=utf-8");
    };
    server.Get("/", [&view](const httplib::Request &, httplib::Response &res) {
        std::lock_guard<std::mutex> lock(view.mutex);
        res.set_redirect("/submap/" + std::to_string(view.model().rootSubmap));
    });
    server.Get(R"(/submap/(\d+))", [&view, page](const httplib::Request &req, httplib::Response &res) {
        std::lock_guard<std::mutex> lock(view.mutex);
        int id = std::atoi(req.matches[1].str().substr(0, 9).c_str());
        if (view.model().submaps.count(id) == 0) {
            res.status = 404;
            res.set_content("no submap " + std::to_string(id) + "\n", "text/plain");
            return;
        }
        page(res, shell("submap", id));
    });
    for (const char *name : {"problems", "changes", "search"}) {
        std::string v = name;
        server.Get("/" + v, [v, page](const httplib::Request &, httplib::Response &res) { page(res, shell(v, 0)); });
    }
    server.Get("/static/app.css", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(kCss, sizeof kCss - 1, "text/css");
    });
    server.Get("/static/app.js", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(kJs, sizeof kJs - 1, "application/javascript");
    });
}

}  // namespace tqmap

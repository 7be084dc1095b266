// The web view's navigation of a drawing, served as /static/nav.js before
// app.js: pan and zoom (mouse and keyboard), folded groups that open on
// click, pages of a large opened group, clickable connections, and the
// neighbours view (?around=SYMBOL&hops=N).
'use strict';
const tqNav = (() => {
  const params = new URLSearchParams(location.search);
  const box = () => document.getElementById('view');
  let svg = null, vb = null, full = null, dragged = false;

  // The view's own part of the query, passed on to the API.
  function query() {
    const p = new URLSearchParams();
    ['open', 'around', 'hops'].forEach((k) => { if (params.get(k)) p.set(k, params.get(k)); });
    const s = p.toString();
    return s ? '?' + s : '';
  }
  function go(changes, hash = location.hash) {
    Object.entries(changes).forEach(([k, v]) => { if (v == null || v === '') params.delete(k); else params.set(k, v); });
    const s = params.toString();
    location.assign(location.pathname + (s ? '?' + s : '') + hash);
  }

  // ---- pan and zoom: the drawing's viewBox, kept while the layout stays.
  function show() {
    svg.setAttribute('viewBox', vb.map((v) => v.toFixed(1)).join(' '));
    box().dataset.zoom = (full[2] / vb[2]).toFixed(3);
  }
  function zoom(factor, cx, cy) {
    const w = Math.min(Math.max(vb[2] / factor, full[2] / 40), full[2] * 4), k = w / vb[2];
    if (cx == null) { cx = vb[0] + vb[2] / 2; cy = vb[1] + vb[3] / 2; }
    vb = [cx - (cx - vb[0]) * k, cy - (cy - vb[1]) * k, w, vb[3] * k];
    show();
  }
  // The first view: the whole drawing when its labels stay readable (at
  // least READABLE of their size), centred and at most LARGEST; else
  // READABLE at the top centre (the core), the rest a zoom or a drag away.
  const READABLE = 0.8, LARGEST = 1.5;
  function start(view) {
    const r = view.getBoundingClientRect(), cw = Math.max(r.width, 100), ch = Math.max(r.height, 100);
    const scale = Math.min(Math.max(Math.min(cw / full[2], ch / full[3]), READABLE), LARGEST);
    const w = cw / scale, h = ch / scale;
    const top = scale > READABLE ? full[1] - (h - full[3]) / 2 : full[1];
    return [full[0] + (full[2] - w) / 2, top, w, h];
  }
  function pan(dx, dy) { vb[0] += dx; vb[1] += dy; show(); }
  function fit() { vb = full.slice(); show(); }
  function toDrawing(ev) {
    const p = svg.createSVGPoint(); p.x = ev.clientX; p.y = ev.clientY;
    return p.matrixTransform(svg.getScreenCTM().inverse());
  }
  function wire() {
    svg.addEventListener('wheel', (ev) => {
      ev.preventDefault();
      const p = toDrawing(ev);
      zoom(ev.deltaY < 0 ? 1.25 : 0.8, p.x, p.y);
    }, {passive: false});
    let from = null;
    svg.addEventListener('pointerdown', (ev) => { from = {x: ev.clientX, y: ev.clientY, vb: vb.slice()}; dragged = false; });
    svg.addEventListener('pointermove', (ev) => {
      if (!from || !(ev.buttons & 1)) return;
      const dx = ev.clientX - from.x, dy = ev.clientY - from.y;
      if (!dragged && Math.abs(dx) + Math.abs(dy) < 5) return;
      dragged = true;
      const scale = vb[2] / svg.getBoundingClientRect().width;
      vb = [from.vb[0] - dx * scale, from.vb[1] - dy * scale, vb[2], vb[3]];
      show();
    });
    svg.addEventListener('pointerup', () => { from = null; });
    // A drag is no click: symbols and links under the pointer stay unopened.
    svg.addEventListener('click', (ev) => { if (dragged) { ev.preventDefault(); ev.stopPropagation(); dragged = false; } }, true);
  }
  document.addEventListener('keydown', (ev) => {
    if (!svg || /INPUT|SELECT|TEXTAREA/.test(document.activeElement.tagName) || ev.ctrlKey || ev.metaKey || ev.altKey) return;
    const step = vb[2] / 10, acts = {'+': () => zoom(1.25), '=': () => zoom(1.25), '-': () => zoom(0.8), '0': fit,
      ArrowLeft: () => pan(-step, 0), ArrowRight: () => pan(step, 0), ArrowUp: () => pan(0, -step), ArrowDown: () => pan(0, step)};
    if (acts[ev.key]) { ev.preventDefault(); acts[ev.key](); }
  });

  // ---- the drawing as app.js put it in the page.
  function drawn(view) {
    svg = view.querySelector('svg');
    if (!svg) return;
    const b = svg.viewBox.baseVal;
    const size = [b.x, b.y, b.width, b.height];
    svg.removeAttribute('width'); svg.removeAttribute('height');
    svg.style.width = '100%'; svg.style.height = '100%';
    // The same drawing redrawn (a map change): the operator's place is kept.
    const before = full;
    full = size;
    vb = vb && before && before.join() === size.join() ? vb : start(view);
    show();
    wire();
    view.querySelectorAll('g.group').forEach((g) => g.addEventListener('click', () => openGroup(g.dataset.group)));
    view.querySelectorAll('g.pager').forEach((g) => g.addEventListener('click', () => openGroup(g.dataset.group, g.dataset.open)));
    view.querySelectorAll('g.conn').forEach((g) => {
      // Graphviz draws a thin line: a wide, unseen copy takes the clicks.
      if (!g.querySelector('.hit')) { const p = g.querySelector('path'); if (p) { const hit = p.cloneNode(); hit.setAttribute('class', 'hit'); g.append(hit); } }
      g.addEventListener('click', (ev) => { ev.preventDefault(); showConnection(+g.id.slice(1)); });
    });
    note();
    if (!document.body.dataset.paintMs)
      requestAnimationFrame(() => requestAnimationFrame(() => { document.body.dataset.paintMs = Math.round(performance.now()); }));
  }

  // What the page shows beyond the whole submap, with the way back.
  function note() {
    let n = document.getElementById('viewnote');
    if (!n) { n = document.createElement('span'); n.id = 'viewnote'; document.getElementById('crumbs').after(n); }
    n.textContent = '';
    const data = typeof state !== 'undefined' && state.data ? state.data : {};
    const around = data.view && data.view.around;
    const back = (text, changes) => { const a = document.createElement('a'); a.href = '#'; a.textContent = text;
      a.onclick = (ev) => { ev.preventDefault(); go(changes); }; n.append(' ', a); };
    if (around) {
      n.append('neighbours of ' + around.name + ' within ' + around.hops + (around.hops === 1 ? ' hop' : ' hops'));
      if (around.hops < 5) back('one hop more', {hops: around.hops + 1});
      back('whole submap', {around: null, hops: null});
    } else if (params.get('around')) {
      n.append('no such symbol on this submap');
      back('whole submap', {around: null, hops: null});
    }
    if (params.get('open')) back('fold every group', {open: null});
  }

  // Groups take their worst status from the API on every refresh.
  function painted(data) {
    (data.groups || []).forEach((g) => {
      const e = document.getElementById('g-' + g.key); if (!e) return;
      const c = ST[g.effectiveStatus] || ['', '#fff', '#555'];
      e.setAttribute('class', 'group st' + g.effectiveStatus);
      e.dataset.status = g.effectiveStatusName;
      e.querySelectorAll('rect').forEach((r) => { r.setAttribute('fill', c[1]); r.setAttribute('stroke', c[2]); });
    });
  }

  // Opens a group at one of its pages ("KEY" is the first, "KEYpN" page N).
  // Turning a page leaves the selection behind: it would lead back to its page.
  function openGroup(key, page) {
    const same = (k) => k === key || (k.startsWith(key + 'p') && /^\d+$/.test(k.slice(key.length + 1)));
    const open = (params.get('open') || '').split(',').filter((k) => k && !same(k));
    open.push(page || key);
    go({open: open.join(',')}, page ? '' : location.hash);
  }

  // A symbol asked for (#sel=ID, as search results link) but folded away or
  // on another page: the server names the groups' pages that show it.
  async function reveal(id) {
    if (document.getElementById('s' + id)) return;
    const r = await fetch('/api/submap/' + document.body.dataset.submap + '/way/' + id + query(), {cache: 'no-store'});
    if (!r.ok) return;
    const w = await r.json();
    if (w.open !== (params.get('open') || '')) go({open: w.open});
  }

  const text = (tag, t, attrs) => { const e = document.createElement(tag); if (t != null) e.textContent = t;
    Object.entries(attrs || {}).forEach(([k, v]) => e.setAttribute(k, v)); return e; };

  async function showConnection(id) {
    const c = await fetch('/api/connection/' + id, {cache: 'no-store'}).then((r) => r.ok ? r.json() : Promise.reject(r.status));
    document.querySelectorAll('g.selected').forEach((g) => g.classList.remove('selected'));
    const g = document.getElementById('s' + id); if (g) g.classList.add('selected');
    history.replaceState(null, '', location.pathname + location.search + '#conn=' + id);
    const d = document.getElementById('details'); d.textContent = '';
    d.dataset.connection = id;
    d.append(text('h3', c.name), text('div', 'connection #' + c.id + (c.label ? ', label ' + c.label : '')),
      text('div', 'status: ' + c.effectiveStatusName + (c.effectiveStatus !== c.status ? ' (own ' + c.statusName + ')' : '')));
    d.append(text('h4', 'ends'));
    c.ends.forEach((e) => { const p = text('div'); const a = text('a', e.name || ('#' + e.id), {href: '#sel=' + e.id});
      a.onclick = (ev) => { ev.preventDefault(); if (typeof select === 'function') select(e.id); };
      p.append(a, ' (' + (e.effectiveStatusName || '?') + ')'); d.append(p); });
    d.append(text('h4', 'last change'));
    const l = c.lastChange;
    d.append(text('div', l ? (l.oldName || l.old) + ' -> ' + (l.newName || l.new) + ', ' + new Date(l.time).toLocaleString()
      : 'none in the history'));
  }

  // The details of a device: links to its neighbours view.
  function detailsShown(d, o) {
    const here = o.symbols.find((s) => s.kind !== 'connection' && s.submap === +document.body.dataset.submap);
    if (!here) return;
    const p = text('div', 'neighbours: ', {class: 'neighbours'});
    [1, 2, 3].forEach((h) => { const a = text('a', h + (h === 1 ? ' hop' : ' hops'), {href: '#'});
      a.onclick = (ev) => { ev.preventDefault(); go({around: here.id, hops: h, open: null}); }; p.append(a, ' '); });
    d.querySelector('h3').after(p);
  }

  const conn = /#conn=(\d+)/.exec(location.hash);
  return {query, drawn, painted, detailsShown, showConnection, reveal, pendingConnection: conn ? +conn[1] : 0};
})();

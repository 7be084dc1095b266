// The map as it was. With ?at=TIME in the address every request of the page
// asks for the map at that time, links keep the time, the live stream is off
// (a past map does not change), and a note says which time is shown and how
// far back the history reaches. A form in the header picks the time; on
// /changes a second form compares the map at two times.
'use strict';
(() => {
  const params = new URLSearchParams(location.search);
  const at = params.get('at');
  const mk = (tag, text, attrs) => { const e = document.createElement(tag); if (text != null) e.textContent = text;
    Object.entries(attrs || {}).forEach(([k, v]) => e.setAttribute(k, v)); return e; };
  const iso = (ms) => new Date(ms).toISOString();
  const withAt = (href, t) => { const u = new URL(href, location.href); u.searchParams.set('at', t); return u.pathname + u.search + u.hash; };

  // The time picker: the map at a time, or now.
  const form = mk('form', null, {id: 'at-form'});
  const input = mk('input', null, {name: 'at', id: 'at', placeholder: 'at a time: 2026-01-31T12:00Z, 2h', value: at || ''});
  const now = new URL(location.href); now.searchParams.delete('at');
  form.append(input, ' ', mk('button', 'show', {type: 'submit'}), ' ', mk('a', 'now', {href: now.pathname + now.search + now.hash}));
  form.addEventListener('submit', (e) => { e.preventDefault(); const p = new URLSearchParams(location.search);
    if (input.value.trim()) p.set('at', input.value.trim()); else p.delete('at'); location.search = p.toString(); });
  document.querySelector('header').append(form);
  const note = mk('div', null, {id: 'past'}); note.hidden = true;
  document.querySelector('header').after(note);

  if (at) {
    const plain = window.fetch.bind(window);
    window.fetch = (u, o) => plain(typeof u === 'string' && /^\/api\/(?!status|events|history|diff)/.test(u) ?
      u + (u.includes('?') ? '&' : '?') + 'at=' + encodeURIComponent(at) : u, o);
    window.EventSource = function () { return {addEventListener() {}, close() {}}; };
    document.addEventListener('click', (e) => { const a = e.target.closest && e.target.closest('a');
      if (a && a.origin === location.origin && !a.search.includes('at=') && a !== form.lastChild) a.href = withAt(a.href, at); }, true);
    const search = document.querySelector('#search'); if (search) search.append(mk('input', null, {type: 'hidden', name: 'at', value: at}));
    document.querySelector('#live').textContent = 'past view';
    fetch('/api/history?at=' + encodeURIComponent(at), {cache: 'no-store'}).then((r) => r.json()).then((h) => {
      const reach = h.kept ? ' The history holds every change since ' + iso(h.completeSince) + ' (' +
        h.rows.toLocaleString('en') + ' of at most ' + h.maxRows.toLocaleString('en') + ' rows).' : '';
      note.textContent = h.error ? h.error : h.refused ? 'Not shown: ' + h.refused + '.' + reach :
        'The map as it was at ' + iso(h.at) + '.' + reach;
      note.className = h.error || h.refused ? 'refused' : '';
      note.hidden = false; document.body.dataset.pastReady = '1';
    });
  }

  if (document.body.dataset.view !== 'changes') return;
  // The diff view: what appeared, disappeared and changed status between two times.
  const section = mk('section', null, {id: 'diff'});
  const dform = mk('form', null, {id: 'diff-form'});
  const from = mk('input', null, {name: 'from', placeholder: 'from: 2026-01-31T12:00Z, 1d', value: params.get('from') || ''});
  const to = mk('input', null, {name: 'to', placeholder: 'to (default: now)', value: params.get('to') || ''});
  dform.append(mk('h2', 'Compare the map at two times'), from, ' ', to, ' ', mk('button', 'compare', {type: 'submit'}));
  section.append(dform);
  document.querySelector('main').before(section);
  if (!params.get('from')) return;
  const q = '/api/diff?from=' + encodeURIComponent(params.get('from')) + (params.get('to') ? '&to=' + encodeURIComponent(params.get('to')) : '');
  fetch(q, {cache: 'no-store'}).then((r) => r.json()).then((d) => {
    if (d.error) { section.append(mk('p', d.error, {class: 'refused'})); document.body.dataset.diffReady = '1'; return; }
    section.append(mk('p', 'From ' + iso(d.from) + ' to ' + iso(d.to) + '.'));
    const table = (title, items, t, status) => {
      section.append(mk('h3', title + ': ' + items.length));
      const tb = mk('table', null, {class: 'list diff-' + title.toLowerCase().replace(' ', '-')});
      items.forEach((i) => { const r = mk('tr');
        const name = mk('a', i.name, {href: withAt('/submap/' + i.submap + '#sel=' + i.symbol, t)});
        [name, mk('span', i.where), mk('span', status(i))].forEach((c) => { const td = mk('td'); td.append(c); r.append(td); });
        tb.append(r); });
      section.append(tb);
    };
    table('Appeared', d.appeared, d.to, (i) => i.afterName);
    table('Disappeared', d.disappeared, d.from, (i) => i.beforeName);
    table('Changed status', d.statusChanged, d.to, (i) => i.beforeName + ' -> ' + i.afterName);
    document.body.dataset.diffReady = '1';
  });
})();

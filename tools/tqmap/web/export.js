// The submap page's export links, served as /static/export.js: the submap as
// GraphML, draw.io XML or SVG, each a download named after the submap.
'use strict';
(function () {
  const body = document.body;
  if (body.dataset.view !== 'submap') return;
  const box = document.createElement('span');
  box.id = 'export';
  box.append('export');
  // A page showing the map at a past time exports the map as it was then.
  const at = new URLSearchParams(location.search).get('at');
  [['graphml', 'GraphML'], ['drawio', 'draw.io'], ['svg', 'SVG']].forEach(([format, text]) => {
    const a = document.createElement('a');
    a.textContent = text;
    a.href = '/api/submap/' + body.dataset.submap + '/export?format=' + format +
      (at ? '&at=' + encodeURIComponent(at) : '');
    a.title = 'download this submap as ' + text + ': positions, labels, statuses and connections';
    a.setAttribute('download', '');
    box.append(' ', a);
  });
  const live = document.getElementById('live');
  live.parentNode.insertBefore(box, live);
})();

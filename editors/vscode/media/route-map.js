'use strict';
// The route map page: draws the map the extension sends (nodes and edges as
// kvls gives them) with Graphviz, finds labels, and asks the extension to
// open the script of a clicked node. A large map starts with each script
// folded into one box; a folded script opens on a click, or from the list.

(function () {
  const vscode = acquireVsCodeApi();
  const kFoldAbove = 400;  // nodes beyond which scripts start folded
  const kUnfoldForSearch = 20;  // folded scripts a search may open at once

  const view = document.getElementById('map');
  const status = document.getElementById('status');
  const search = document.getElementById('search');
  const scope = document.getElementById('scope');
  const unreachableList = document.getElementById('unreachable');

  let viz;
  let map = null;
  let byId = new Map();
  let found = [];
  let foundAt = -1;
  let unfolded = new Set();  // script ids shown whole in a folded map
  let folded = false;

  function quoted(text) {
    return '"' + String(text).replace(/\\/g, '\\\\').replace(/"/g, '\\"').replace(/\n/g, '\\n') + '"';
  }

  function nodeText(node) {
    switch (node.kind) {
      case 'label': return node.name + ':';
      case 'function': return 'function ' + node.name;
      case 'undefined': return 'undefined\n' + node.name;
      case 'unknown': return 'unknown\n' + node.name;
      default: return node.name;
    }
  }

  function nodeAttributes(node, grey) {
    switch (node.kind) {
      case 'start': return 'shape=circle, style=filled, fillcolor="#2e7d32", fontcolor=white';
      case 'script': return 'shape=folder' + (grey ? ', style="dashed,filled", fillcolor=lightgrey, color=gray50, fontcolor=gray40' : '');
      case 'label': return grey ? 'shape=box, style="rounded,filled,dashed", fillcolor=lightgrey, color=gray50, fontcolor=gray40'
        : 'shape=box, style="rounded,filled", fillcolor=white';
      case 'function': return grey ? 'shape=component, style="filled,dashed", fillcolor=lightgrey, color=gray50, fontcolor=gray40'
        : 'shape=component, style=filled, fillcolor=white';
      case 'end': return 'shape=doublecircle, fontsize=9, margin=0' + (grey ? ', style="dashed,filled", fillcolor=lightgrey, color=gray50, fontcolor=gray40' : '');
      case 'undefined': return 'shape=octagon, color=red, fontcolor=red, style=filled, fillcolor="#ffebee"';
      case 'unknown': return 'shape=diamond, color=orange, fontcolor="#e65100"';
      default: return '';
    }
  }

  const kEdgeAttributes = {
    start: 'penwidth=2',
    goto: 'color=black',
    function_call: 'style=dashed, arrowhead=empty',
    script_change: 'color=blue, penwidth=2',
    script_load: 'color=blue, penwidth=2, style=dashed',
    fall_through: 'style=dotted, color=gray40',
    script_end: 'style=dotted, color=gray40, arrowhead=dot',
  };

  // The node a node is drawn as: itself, or its script's box when its
  // script is folded.
  function shownAs(node) {
    if (!folded || !node.script || unfolded.has(node.script)) return node.id;
    return node.script;
  }

  // The DOT text of what is shown: in the chosen script's view only that
  // script's nodes and the nodes its edges meet.
  function toDot() {
    const only = scope.value;
    const shown = new Set();
    const edges = [];
    const seenEdges = new Set();
    for (const edge of map.edges) {
      const from = byId.get(edge.from);
      const to = byId.get(edge.to);
      if (!from || !to) continue;
      if (only && from.script !== only && to.script !== only) continue;
      const a = only ? edge.from : shownAs(from);
      const b = only ? edge.to : shownAs(to);
      if (a === b && (a !== edge.from || b !== edge.to)) continue;  // inside one folded script
      const key = a + ' ' + b + ' ' + edge.kind + ' ' + (a === edge.from && b === edge.to ? edge.label || '' : '');
      if (a !== edge.from || b !== edge.to) {
        if (seenEdges.has(key)) continue;
        seenEdges.add(key);
      }
      shown.add(a);
      shown.add(b);
      edges.push({ from: a, to: b, kind: edge.kind, label: a === edge.from && b === edge.to ? edge.label : undefined });
    }
    for (const node of map.nodes) {
      if (only ? node.script === only : shownAs(node) === node.id) shown.add(only ? node.id : shownAs(node));
    }
    let dot = 'digraph route_map {\n  graph [rankdir=TB, fontname="sans-serif", compound=true];\n' +
      '  node [fontname="sans-serif", fontsize=11];\n  edge [fontname="sans-serif", fontsize=9];\n';
    const members = new Map();
    for (const node of map.nodes) {
      if (!shown.has(node.id)) continue;
      const folds = folded && !only && node.kind === 'script' && !unfolded.has(node.id);
      const cluster = node.script && !folds ? node.script : '';
      if (!members.has(cluster)) members.set(cluster, []);
      members.get(cluster).push(node);
    }
    const write = (node, indent) => {
      const grey = node.reachable === false;
      const folds = folded && !only && node.kind === 'script' && !unfolded.has(node.id);
      const classes = ['kind-' + node.kind];
      if (grey) classes.push('unreached');
      if (folds) classes.push('folded');
      dot += indent + node.id + ' [id=' + quoted(node.id) + ', class=' + quoted(classes.join(' ')) +
        ', label=' + quoted(nodeText(node)) + ', ' + nodeAttributes(node, grey) + '];\n';
    };
    for (const [cluster, nodes] of members) {
      if (!cluster) continue;
      const script = byId.get(cluster);
      dot += '  subgraph cluster_' + cluster + ' {\n    id=' + quoted('cluster_' + cluster) + '; label=' +
        quoted(script ? script.name : cluster) + ';\n';
      dot += script && script.reachable === false
        ? '    style="rounded,dashed,filled"; color=gray60; fillcolor="#f0f0f0";\n'
        : '    style=rounded; color=gray60;\n';
      for (const node of nodes) write(node, '    ');
      dot += '  }\n';
    }
    for (const node of members.get('') || []) write(node, '  ');
    for (const edge of edges) {
      dot += '  ' + edge.from + ' -> ' + edge.to + ' [class=' + quoted('edge-' + edge.kind) + ', ' +
        (kEdgeAttributes[edge.kind] || '') + (edge.label ? ', label=' + quoted(edge.label) : '') + '];\n';
    }
    return dot + '}\n';
  }

  function fillLists() {
    const chosen = scope.value;
    scope.textContent = '';
    const all = document.createElement('option');
    all.value = '';
    all.textContent = 'All scripts';
    scope.appendChild(all);
    for (const node of map.nodes) {
      if (node.kind !== 'script') continue;
      const option = document.createElement('option');
      option.value = node.id;
      option.textContent = node.name;
      scope.appendChild(option);
    }
    scope.value = byId.has(chosen) ? chosen : '';
    unreachableList.textContent = '';
    for (const id of map.unreachable || []) {
      const node = byId.get(id);
      if (!node) continue;
      const item = document.createElement('li');
      const script = node.script && node.script !== node.id ? byId.get(node.script) : undefined;
      item.textContent = (script ? script.name + ' ' : '') + nodeText(node);
      item.dataset.node = id;
      unreachableList.appendChild(item);
    }
    document.getElementById('unreachable-box').hidden = unreachableList.children.length === 0;
  }

  function draw() {
    if (!viz) return;
    if (!map) {
      view.textContent = '';
      status.textContent = 'No route map: no game is open, or its main.txt has not been read yet.';
      return;
    }
    let svg;
    try {
      svg = viz.renderSVGElement(toDot());
    } catch (error) {
      status.textContent = 'The map could not be laid out: ' + error.message;
      return;
    }
    view.textContent = '';
    view.appendChild(svg);
    const scripts = map.nodes.filter((node) => node.kind === 'script').length;
    status.textContent = scripts + ' scripts, ' + map.nodes.length + ' nodes, ' + map.edges.length + ' edges' +
      (map.unreachable && map.unreachable.length ? ', ' + map.unreachable.length + ' unreachable' : '') +
      (map.unknownRoutes ? '; routes to computed targets are unknown' : '') +
      (folded && !scope.value ? ' (scripts folded: click one to open it)' : '');
    find(false);
  }

  function show(newMap) {
    map = newMap && Array.isArray(newMap.nodes) && Array.isArray(newMap.edges) ? newMap : null;
    byId = new Map(map ? map.nodes.map((node) => [node.id, node]) : []);
    folded = Boolean(map) && map.nodes.length > kFoldAbove;
    for (const id of unfolded) if (!byId.has(id)) unfolded.delete(id);
    if (map) fillLists();
    draw();
  }

  // Marks the shown nodes whose name holds the search text; with `next`,
  // moves to the following one. Typed text opens the folded scripts that
  // hold what it finds (when they are few), so that folding hides no label.
  function find(next, typed) {
    const text = search.value.trim().toLowerCase();
    if (typed && text && map && folded && !scope.value) {
      const holders = new Set();
      for (const node of map.nodes) {
        if (node.script && node.kind !== 'script' && !unfolded.has(node.script) &&
            node.name.toLowerCase().includes(text)) holders.add(node.script);
      }
      if (holders.size > 0 && holders.size <= kUnfoldForSearch) {
        for (const id of holders) unfolded.add(id);
        draw();  // which finds again
        return;
      }
    }
    for (const element of view.querySelectorAll('g.node.found, g.node.current')) {
      element.classList.remove('found', 'current');
    }
    found = [];
    if (!text || !map) {
      foundAt = -1;
      return;
    }
    for (const element of view.querySelectorAll('g.node')) {
      const node = byId.get(element.id);
      if (node && node.name.toLowerCase().includes(text)) {
        element.classList.add('found');
        found.push(element);
      }
    }
    if (found.length === 0) {
      foundAt = -1;
      status.textContent = 'No label holds "' + search.value + '".';
      return;
    }
    foundAt = next ? (foundAt + 1) % found.length : Math.min(Math.max(foundAt, 0), found.length - 1);
    found[foundAt].classList.add('current');
    found[foundAt].scrollIntoView({ block: 'center', inline: 'center' });
  }

  function open(id) {
    const node = byId.get(id);
    if (!node) return;
    if (folded && !scope.value && node.kind === 'script' && !unfolded.has(id)) {
      unfolded.add(id);
      draw();
      return;
    }
    const script = node.script ? byId.get(node.script) : undefined;
    if (!script && !node.file) return;
    vscode.postMessage({ type: 'open', node: id, uri: script && script.uri, path: script && script.path,
      line: node.line, column: node.column });
  }

  view.addEventListener('click', (event) => {
    const element = event.target.closest('g.node');
    if (element) open(element.id);
  });
  unreachableList.addEventListener('click', (event) => {
    const item = event.target.closest('li');
    if (item) open(item.dataset.node);
  });
  search.addEventListener('input', () => find(false, true));
  search.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') find(true);
  });
  scope.addEventListener('change', draw);
  window.addEventListener('message', (event) => {
    const message = event.data;
    if (message && message.type === 'map') show(message.map);
    if (message && message.type === 'error') status.textContent = message.text;
  });

  status.textContent = 'Laying out…';
  Viz.instance().then((instance) => {
    viz = instance;
    draw();
    vscode.postMessage({ type: 'ready' });
  }, (error) => {
    status.textContent = 'Graphviz could not start: ' + error.message;
  });
}());

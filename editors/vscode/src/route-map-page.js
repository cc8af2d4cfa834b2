'use strict';
// The plain parts of the route map view, which run and are tested without
// VS Code: the page's HTML, and where a node of the map is written.

// The page: the Graphviz library and the page's script from the extension's
// files, and nothing else (the content security policy allows only those,
// Graphviz's WebAssembly, and the page's own style sheet).
function pageHtml({ cspSource, nonce, vizUri, scriptUri, styleUri }) {
  return `<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="UTF-8">
<meta http-equiv="Content-Security-Policy" content="default-src 'none'; img-src ${cspSource} data:; style-src ${cspSource} 'unsafe-inline'; script-src 'nonce-${nonce}' 'wasm-unsafe-eval';">
<meta name="viewport" content="width=device-width, initial-scale=1.0">
<link rel="stylesheet" href="${styleUri}">
<title>Route Map</title>
</head>
<body>
<div id="bar">
<input id="search" type="search" placeholder="Find a label" aria-label="Find a label">
<select id="scope" aria-label="Script shown"><option value="">All scripts</option></select>
<span id="status"></span>
</div>
<details id="unreachable-box" hidden><summary>Unreachable</summary><ul id="unreachable"></ul></details>
<div id="map"></div>
<script nonce="${nonce}" src="${vizUri}"></script>
<script nonce="${nonce}" src="${scriptUri}"></script>
</body>
</html>
`;
}

// Where node `id` of `map` is written: { uri } or { path } of its script,
// with its zero-based line and column; undefined for a node the map does not
// hold or one in no script. Only the map's own nodes are opened, whatever
// the page asks.
function nodeLocation(map, id) {
  if (!map || !Array.isArray(map.nodes)) return undefined;
  const node = map.nodes.find((candidate) => candidate.id === id);
  if (!node || !node.script) return undefined;
  const script = map.nodes.find((candidate) => candidate.id === node.script);
  if (!script || (!script.uri && !script.path)) return undefined;
  return {
    uri: script.uri,
    path: script.uri ? undefined : script.path,
    line: Math.max((node.line || 1) - 1, 0),
    column: Math.max((node.column || 1) - 1, 0),
  };
}

module.exports = { pageHtml, nodeLocation };

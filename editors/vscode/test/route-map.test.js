'use strict';
// The route map view's extension side, against a stand-in for the parts of
// the VS Code API it uses: the page it makes, the map it asks kvls for and
// sends on, the requests an edit causes, and the scripts a click opens.

const assert = require('node:assert/strict');
const Module = require('module');
const test = require('node:test');
const { nodeLocation } = require('../src/route-map-page');

const kMap = {
  nodes: [
    { id: 'n0', kind: 'script', name: 'main.txt', path: '/g/main.txt', uri: 'file:///g/main.txt', line: 1, column: 1, script: 'n0' },
    { id: 'n1', kind: 'start', name: 'start', line: 1, column: 1 },
    { id: 'n2', kind: 'label', name: 'here', line: 12, column: 3, script: 'n0' },
    { id: 'n3', kind: 'undefined', name: 'nowhere' },
  ],
  edges: [],
};

test('a node opens at its own line in its script; anything else opens nothing', () => {
  assert.deepEqual(nodeLocation(kMap, 'n2'), { uri: 'file:///g/main.txt', path: undefined, line: 11, column: 2 });
  const fromFile = { nodes: [{ id: 'n0', kind: 'script', path: '/g/main.txt', line: 1, column: 1, script: 'n0' }] };
  assert.deepEqual(nodeLocation(fromFile, 'n0'), { uri: undefined, path: '/g/main.txt', line: 0, column: 0 });
  for (const id of ['n1', 'n3', 'n9', undefined]) assert.equal(nodeLocation(kMap, id), undefined, id);
  assert.equal(nodeLocation(null, 'n2'), undefined);
});

function fakeVscode() {
  const calls = [];
  const handlers = {};
  const on = (name) => (handler) => { handlers[name] = handler; return { dispose() {} }; };
  const uri = (text) => ({ text });
  const vscode = {
    calls, handlers, posted: [], requests: 0,
    Uri: { joinPath: (base, ...parts) => uri([base.text, ...parts].join('/')), parse: uri, file: (p) => uri(`file://${p}`) },
    ViewColumn: { One: 1, Beside: -2 },
    Position: class { constructor(line, character) { Object.assign(this, { line, character }); } },
    Range: class { constructor(start, end) { Object.assign(this, { start, end }); } },
    commands: { registerCommand: (id, callback) => { handlers[id] = callback; return { dispose() {} }; } },
    languages: { onDidChangeDiagnostics: on('diagnostics') },
    workspace: { onDidChangeTextDocument: on('change'), onDidSaveTextDocument: on('save') },
    window: {
      createWebviewPanel: (type, title, column, options) => {
        calls.push(['panel', type, options.localResourceRoots.map((root) => root.text)]);
        return {
          webview: {
            cspSource: 'vscode-resource:',
            asWebviewUri: (target) => `webview:${target.text}`,
            onDidReceiveMessage: on('message'),
            postMessage: (message) => { vscode.posted.push(message); return Promise.resolve(true); },
          },
          onDidDispose: on('dispose'),
          reveal() {},
          dispose() { handlers.dispose(); },
        };
      },
      showTextDocument: async (target, options) => {
        calls.push(['show', target.text, options.selection.start.line, options.selection.start.character]);
      },
      showErrorMessage: (text) => calls.push(['error', text]),
    },
  };
  return vscode;
}

function loadRouteMap(vscode) {
  const resolve = Module._resolveFilename;
  Module._resolveFilename = function (request, ...rest) {
    return request === 'vscode' ? 'vscode' : resolve.call(this, request, ...rest);
  };
  require.cache.vscode = { id: 'vscode', filename: 'vscode', loaded: true, exports: vscode };
  const file = require.resolve('../src/route-map');
  delete require.cache[file];
  try {
    return require(file);
  } finally {
    Module._resolveFilename = resolve;
  }
}

const settle = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

test('the view asks kvls for the map, follows edits once after a pause, sends only a changed map, and opens clicked nodes', async () => {
  const vscode = fakeVscode();
  let answer = kMap;
  let client = { sendRequest: async (method) => { vscode.requests += 1; assert.equal(method, 'kvscript/routeMap'); return JSON.parse(JSON.stringify(answer)); } };
  const registration = loadRouteMap(vscode).register({ extensionUri: { text: '/ext' } }, () => client);
  vscode.handlers['kvscript.showRouteMap']();
  assert.deepEqual(vscode.calls, [['panel', 'kvscript.routeMap', ['/ext/media', '/ext/dist/viz']]]);

  vscode.handlers.message({ type: 'ready' });
  await settle(0);
  assert.deepEqual(vscode.posted, [{ type: 'map', map: kMap }]);

  // Typing asks once, after the pause; other languages' edits ask nothing.
  const edit = (languageId) => vscode.handlers.change({ document: { languageId }, contentChanges: [{}] });
  edit('kvscript');
  edit('kvscript');
  vscode.handlers.diagnostics();
  edit('plaintext');
  assert.equal(vscode.requests, 1);
  await settle(600);
  assert.equal(vscode.requests, 2);
  // The same map again: the page keeps the one it has.
  assert.equal(vscode.posted.length, 1);
  // A changed map is sent; a page that starts again gets the map anew.
  answer = { ...kMap, edges: [{ from: 'n1', to: 'n0', kind: 'start' }] };
  edit('kvscript');
  await settle(600);
  assert.deepEqual(vscode.posted.slice(1), [{ type: 'map', map: answer }]);
  vscode.handlers.message({ type: 'ready' });
  await settle(0);
  assert.deepEqual(vscode.posted.slice(1), [{ type: 'map', map: answer }, { type: 'map', map: answer }]);

  vscode.handlers.message({ type: 'open', node: 'n2', uri: 'file:///elsewhere' });
  vscode.handlers.message({ type: 'open', node: 'n3' });
  await settle(0);
  assert.deepEqual(vscode.calls.slice(1), [['show', 'file:///g/main.txt', 11, 2]]);

  // Without the server the page says so.
  client = undefined;
  vscode.handlers.message({ type: 'ready' });
  assert.equal(vscode.posted.at(-1).type, 'error');
  registration.dispose();
});

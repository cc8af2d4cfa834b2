'use strict';
// The "Show Route Map" view: a webview that draws the game's route map, as
// the kvls server gives it for the texts being edited, and follows the
// author's edits. Clicking a node opens its script at its line.

const crypto = require('crypto');
const vscode = require('vscode');
const { pageHtml, nodeLocation } = require('./route-map-page');

const kViewType = 'kvscript.routeMap';
// How long the view waits after an edit or new diagnostics before it asks
// for the map again: typing asks once, after a pause.
const kRefreshDelayMs = 400;

// Registers the command; `getClient` gives the running language client or
// undefined. Returns what to dispose.
function register(context, getClient) {
  let panel;
  let map = null;
  let timer;
  let asked = 0;
  // The map as the page last got it (its JSON text), or null when the page
  // holds none: a refresh that finds the same map sends nothing, so that a
  // large game's map is neither sent nor laid out again for each keystroke.
  let sent = null;

  function postError(text) {
    sent = null;
    panel.webview.postMessage({ type: 'error', text });
  }

  async function refresh() {
    if (!panel) return;
    const client = getClient();
    if (!client) {
      postError('The route map needs the kvls language server, which is not running.');
      return;
    }
    const ask = ++asked;
    try {
      const answer = await client.sendRequest('kvscript/routeMap', {});
      if (ask !== asked || !panel) return;  // a later request answers instead
      map = answer || null;
      const text = JSON.stringify(map);
      if (text === sent) return;
      sent = text;
      panel.webview.postMessage({ type: 'map', map });
    } catch (error) {
      if (ask === asked && panel) postError(`Route map: ${error.message}`);
    }
  }

  function refreshSoon() {
    if (!panel) return;
    clearTimeout(timer);
    timer = setTimeout(refresh, kRefreshDelayMs);
  }

  async function openNode(id) {
    const where = nodeLocation(map, id);
    if (!where) return;
    const uri = where.uri ? vscode.Uri.parse(where.uri) : vscode.Uri.file(where.path);
    const position = new vscode.Position(where.line, where.column);
    await vscode.window.showTextDocument(uri, {
      viewColumn: vscode.ViewColumn.One,
      selection: new vscode.Range(position, position),
    });
  }

  function show() {
    if (panel) {
      panel.reveal();
      refresh();
      return;
    }
    const media = vscode.Uri.joinPath(context.extensionUri, 'media');
    // The packaging copies Graphviz's page script here (scripts/bundle.js).
    const viz = vscode.Uri.joinPath(context.extensionUri, 'dist', 'viz');
    panel = vscode.window.createWebviewPanel(kViewType, 'Route Map', vscode.ViewColumn.Beside, {
      enableScripts: true,
      retainContextWhenHidden: true,
      localResourceRoots: [media, viz],
    });
    const webview = panel.webview;
    webview.html = pageHtml({
      cspSource: webview.cspSource,
      nonce: crypto.randomBytes(16).toString('base64'),
      vizUri: webview.asWebviewUri(vscode.Uri.joinPath(viz, 'viz-global.js')),
      scriptUri: webview.asWebviewUri(vscode.Uri.joinPath(media, 'route-map.js')),
      styleUri: webview.asWebviewUri(vscode.Uri.joinPath(media, 'route-map.css')),
    });
    const listeners = [
      webview.onDidReceiveMessage((message) => {
        if (!message) return;
        // A page that (re)starts holds no map yet.
        if (message.type === 'ready') {
          sent = null;
          refresh();
        }
        if (message.type === 'open') openNode(message.node).catch((error) => vscode.window.showErrorMessage(error.message));
      }),
      vscode.languages.onDidChangeDiagnostics(refreshSoon),
      vscode.workspace.onDidChangeTextDocument((change) => {
        if (change.document.languageId === 'kvscript' && change.contentChanges.length > 0) refreshSoon();
      }),
      vscode.workspace.onDidSaveTextDocument(refreshSoon),
    ];
    panel.onDidDispose(() => {
      clearTimeout(timer);
      for (const listener of listeners) listener.dispose();
      panel = undefined;
      map = null;
      sent = null;
    });
  }

  const command = vscode.commands.registerCommand('kvscript.showRouteMap', show);
  return {
    dispose() {
      command.dispose();
      if (panel) panel.dispose();
    },
  };
}

module.exports = { register };

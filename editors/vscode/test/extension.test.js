'use strict';
// The extension's wiring, against a stand-in for the parts of the VS Code API
// it uses: activation without a language server, game scripts turned into
// KVScript documents, and the tasks.

const assert = require('node:assert/strict');
const Module = require('module');
const path = require('path');
const test = require('node:test');

// A workspace /w holding the game /w/game, with a script of the game and a
// note beside it open as plain text, each in a tab.
function fakeVscode() {
  const log = [];
  const reopened = [];
  const providers = {};
  const registered = {};
  const closeListeners = [];
  const settings = { 'kvscript.detectGameScripts': true, 'kvscript.converter.path': '/nonexistent/KVConverter',
    'kvscript.server.path': '', 'files.encoding': 'utf8', '[kvscript].files.encoding': 'shiftjis' };
  const disposable = { dispose() {} };
  const event = () => disposable;
  const uri = (fsPath) => ({ scheme: 'file', fsPath, toString: () => `file://${fsPath}` });
  const document = (fsPath) => ({ uri: uri(fsPath), languageId: 'plaintext', encoding: 'utf8', isDirty: false });
  class TabInputText { constructor(target) { this.uri = target; } }
  const documents = [document('/w/game/scenes/a.txt'), document('/w/notes.txt')];
  class EventEmitter {
    constructor() { this.listeners = []; this.event = (listener) => this.listeners.push(listener); }
    fire(value) { for (const listener of this.listeners) listener(value); }
  }
  const vscode = {
    log, reopened, providers, registered, settings,
    EventEmitter,
    TabInputText,
    ConfigurationTarget: { Global: 1 },
    StatusBarAlignment: { Right: 2 },
    Uri: { file: uri },
    TaskGroup: { Build: 'build' },
    TaskScope: { Workspace: 'workspace' },
    Task: class {
      constructor(definition, scope, name, source, execution, problemMatchers) {
        Object.assign(this, { definition, scope, name, source, execution, problemMatchers });
      }
    },
    CustomExecution: class { constructor(callback) { this.callback = callback; } },
    window: {
      // A closed channel throws, as VS Code's does.
      createOutputChannel: () => {
        let open = true;
        const write = (level) => (text) => {
          if (!open) throw new Error('Channel has been closed');
          log.push(`${level} ${text}`);
        };
        return { info: write('info'), warn: write('warn'), error: write('error'), dispose() { open = false; } };
      },
      showWarningMessage: (text) => log.push(`popup ${text}`),
      createStatusBarItem: () => ({ show() {}, dispose() {} }),
      tabGroups: { all: [{ tabs: documents.map((doc) => ({ input: new TabInputText(doc.uri) })) }],
        // Closing a tab closes its document.
        close: async (tabs) => {
          for (const tab of tabs) {
            reopened.push(`closed ${tab.input.uri.fsPath}`);
            for (const listener of closeListeners) listener({ uri: tab.input.uri });
          }
        } },
      showTextDocument: async (target) => { reopened.push(`opened ${target.fsPath}`); },
    },
    commands: { registerCommand: (name, callback) => { registered[name] = callback; return disposable; } },
    workspace: {
      workspaceFolders: [{ uri: uri('/w'), name: 'w' }],
      textDocuments: documents,
      findFiles: async () => [uri('/w/game/main.txt')],
      getWorkspaceFolder: () => vscode.workspace.workspaceFolders[0],
      getConfiguration: (section, scope) => ({
        get: (key) => settings[`${scope && scope.languageId === 'kvscript' ? '[kvscript].' : ''}${section}.${key}`]
          ?? settings[`${section}.${key}`],
        inspect: (key) => ({ globalValue: settings[`${section}.${key}`] }),
        update: async (key, value, target) => {
          assert.equal(target, 1);
          settings[`${section}.${key}`] = value;
        },
      }),
      createFileSystemWatcher: () => ({ onDidCreate: event, onDidDelete: event, dispose() {} }),
      onDidChangeWorkspaceFolders: event,
      onDidOpenTextDocument: event,
      onDidCloseTextDocument: (listener) => {
        closeListeners.push(listener);
        return { dispose: () => closeListeners.splice(closeListeners.indexOf(listener), 1) };
      },
      onDidChangeConfiguration: event,
    },
    tasks: {
      registerTaskProvider: (type, provider) => { providers[type] = provider; return disposable; },
    },
  };
  return vscode;
}

function loadExtension(vscode) {
  const resolve = Module._resolveFilename;
  Module._resolveFilename = function (request, ...rest) {
    return request === 'vscode' ? 'vscode' : resolve.call(this, request, ...rest);
  };
  require.cache.vscode = { id: 'vscode', filename: 'vscode', loaded: true, exports: vscode };
  const file = require.resolve('../src/extension');
  delete require.cache[file];
  try {
    return require(file);
  } finally {
    Module._resolveFilename = resolve;
  }
}

test('activation: the game\'s scripts associated, one open before read again, tasks, no server said once', async () => {
  const vscode = fakeVscode();
  vscode.settings['files.associations'] = { '*.log': 'log' };
  const extension = loadExtension(vscode);
  await extension.activate({ subscriptions: [], extensionPath: path.join(__dirname, 'no-extension-here') });

  assert.deepEqual(vscode.settings['files.associations'], { '*.log': 'log', '/w/game/**/*.txt': 'kvscript' });
  // Never reloaded in place, which undo could revert: closed and opened anew.
  assert.deepEqual(vscode.reopened, ['closed /w/game/scenes/a.txt', 'opened /w/game/scenes/a.txt']);
  // Every command the package contributes is registered.
  const contributed = require('../package.json').contributes.commands.map((command) => command.command);
  assert.deepEqual(Object.keys(vscode.registered).sort(), contributed.sort());
  assert.deepEqual(vscode.log, ['info Game scripts open as KVScript: /w/game/**/*.txt',
    'info No kvls language server for this system: colouring and the tasks work without it.']);

  const tasks = vscode.providers.kvconverter.provideTasks();
  assert.deepEqual(tasks.map((task) => [task.name, task.definition, task.problemMatchers]), [
    ['Build game', { type: 'kvconverter', check: false, folder: '/w/game' }, ['$kvconverter', '$kvconverter-file']],
    ['Check game', { type: 'kvconverter', check: true, folder: '/w/game' }, ['$kvconverter', '$kvconverter-file']],
  ]);

  // A converter that cannot be started fails the task with the reason.
  const terminal = await tasks[1].execution.callback(tasks[1].definition);
  let written = '';
  terminal.onDidWrite((text) => { written += text; });
  const status = await new Promise((resolve) => { terminal.onDidClose(resolve); terminal.open(); });
  assert.equal(status, 1);
  assert.equal(written, '/nonexistent/KVConverter: spawn /nonexistent/KVConverter ENOENT\r\n');
  await extension.deactivate();
});

// The extension host waits for what deactivate returns before it exits: that
// must be the language client's stop, so that kvls is told to end first.
test('deactivate waits for the language client to stop', async () => {
  const vscode = fakeVscode();
  vscode.settings['kvscript.server.path'] = process.execPath;
  const calls = [];
  let stopped;
  class LanguageClient {
    constructor(id, name, server) { calls.push(`new ${server.command}`); }
    onDidChangeState() {}
    onNotification() {}
    async start() { calls.push('start'); }
    stop(timeout) {
      calls.push(`stop ${timeout}`);
      return new Promise((resolve, reject) => { stopped = { resolve, reject }; });
    }
  }
  const clientModule = require.resolve('vscode-languageclient/node');
  const saved = require.cache[clientModule];
  require.cache[clientModule] = { id: clientModule, filename: clientModule, loaded: true,
    exports: { LanguageClient, TransportKind: { stdio: 0 }, State: { Starting: 3, Running: 2, Stopped: 1 } } };
  try {
    const extension = loadExtension(vscode);
    const context = { subscriptions: [], extensionPath: path.join(__dirname, 'no-extension-here') };
    await extension.activate(context);
    assert.deepEqual(calls, [`new ${process.execPath}`, 'start']);
    let done = false;
    const deactivated = Promise.resolve(extension.deactivate()).then(() => { done = true; });
    await new Promise((resolve) => setImmediate(resolve));
    assert.deepEqual(calls.slice(2), ['stop 2000']);
    assert.equal(done, false, 'deactivate ended before the client stopped');
    stopped.resolve();
    await deactivated;

    // A host that stops waiting closes the output channel before the client
    // has stopped: a failed stop then ends quietly, not with a throw.
    await extension.activate(context);
    const late = extension.deactivate();
    for (const item of context.subscriptions) item.dispose();
    stopped.reject(new Error('Stopping the server timed out'));
    await late;
    assert.deepEqual(vscode.log.filter((line) => line.startsWith('warn')), []);
  } finally {
    if (saved) require.cache[clientModule] = saved;
    else delete require.cache[clientModule];
  }
});

'use strict';
// The VS Code side of the extension: game scripts open as KVScript in their
// encoding, the "Build game" and "Check game" tasks, and the kvls language
// server when one is found. The decisions live in plain modules beside this
// one, which run and are tested without VS Code.

const fs = require('fs');
const path = require('path');
const vscode = require('vscode');

const scripts = require('./game-scripts');
const converter = require('./converter');
const { chooseServer, serverStatus } = require('./server');
const routeMap = require('./route-map');

const kLanguage = scripts.kLanguage;
const kTaskType = 'kvconverter';
const kProblemMatchers = ['$kvconverter', '$kvconverter-file'];
// How long a finished task's terminal stays open before it is closed: the
// terminal hands its last lines to the problem matchers with a delay of its
// own, and lines that arrive after the close are not matched.
const kCloseDelayMs = 200;
// How long a script being read again may take to close.
const kCloseWaitMs = 5000;
// How long kvls may take to end when asked to.
const kStopWaitMs = 2000;

let log;
// Where messages go once the window has closed the output channel: a client
// that fails to stop after that has no one left to tell.
const kClosedLog = { info() {}, warn() {}, error() {}, show() {} };
let roots = [];
let client;
let statusItem;
// Scripts already closed and read again once, never twice.
const freshlyRead = new Set();

async function findRoots() {
  const found = await vscode.workspace.findFiles('**/main.txt', '**/node_modules/**');
  roots = scripts.gameRoots(found.filter((uri) => uri.scheme === 'file').map((uri) => uri.fsPath));
}

function detecting() {
  return vscode.workspace.getConfiguration('kvscript').get('detectGameScripts');
}

// Adds the `files.associations` entries that make the scripts of the games
// found KVScript files, in the user's settings (the paths are this machine's).
// A script opened afterwards is read in KVScript's encoding from the start.
// Returns the games whose entry was added.
async function associate() {
  if (!detecting() || roots.length === 0) return [];
  const files = vscode.workspace.getConfiguration('files');
  const added = scripts.associationsToAdd(files.get('associations'), roots);
  const patterns = Object.keys(added);
  if (patterns.length === 0) return [];
  const inspected = files.inspect('associations');
  const user = (inspected && inspected.globalValue) || {};
  try {
    await files.update('associations', { ...user, ...added }, vscode.ConfigurationTarget.Global);
    log.info(`Game scripts open as KVScript: ${patterns.join(', ')}`);
  } catch (error) {
    log.warn(`files.associations: ${error.message}`);
    return [];
  }
  return roots.filter((root) => patterns.includes(scripts.associationPattern(root)));
}

function encodingsFor(uri) {
  return {
    plainTextDefault: vscode.workspace.getConfiguration('files', { uri, languageId: 'plaintext' }).get('encoding'),
    scriptEncoding: vscode.workspace.getConfiguration('files', { uri, languageId: kLanguage }).get('encoding'),
  };
}

// Waits until `uri`'s document is closed, for at most kCloseWaitMs.
function documentClosed(uri) {
  return new Promise((resolve) => {
    const done = (closed) => {
      clearTimeout(timer);
      listener.dispose();
      resolve(closed);
    };
    const listener = vscode.workspace.onDidCloseTextDocument((closed) => {
      if (closed.uri.toString() === uri.toString()) done(true);
    });
    const timer = setTimeout(() => done(false), kCloseWaitMs);
  });
}

// A game script that opened, before its game was associated, in the encoding
// of plain text: its editors are closed and it is opened again, read from the
// file in KVScript's encoding. Reloading it in place would be an edit that
// undo reverts to the wrong text.
async function readAgain(document) {
  const uri = document.uri;
  if (freshlyRead.has(uri.toString())) return;
  const { plainTextDefault, scriptEncoding } = encodingsFor(uri);
  if (!scripts.needsFreshRead({ current: document.encoding, plainTextDefault, scriptEncoding, dirty: document.isDirty })) {
    return;
  }
  freshlyRead.add(uri.toString());
  const tabs = vscode.window.tabGroups.all.flatMap((group) => group.tabs)
    .filter((tab) => tab.input instanceof vscode.TabInputText && tab.input.uri.toString() === uri.toString());
  if (tabs.length === 0) return;
  const closed = documentClosed(uri);
  try {
    await vscode.window.tabGroups.close(tabs);
    if (!(await closed)) {
      log.warn(`${uri.fsPath} opened as ${document.encoding} before its game was known: close it and open it ` +
        `again to read it as ${scriptEncoding}.`);
    }
    await vscode.window.showTextDocument(uri, { preview: false });
  } catch (error) {
    log.warn(`${uri.fsPath}: ${error.message}`);
  }
}

// Associates the games found, and reads again those of `documents`, open
// before, that belong to a game associated just now.
async function adoptDocuments(documents) {
  const associated = await associate();
  const opened = documents.filter((document) => document.uri.scheme === 'file' &&
    scripts.isGameScript(document.uri.fsPath, associated));
  await Promise.all(opened.map(readAgain));
}

// A document that opens: its game is associated if it is not yet.
async function adopt(document) {
  if (document.uri.scheme !== 'file' || !detecting()) return;
  if (scripts.isGameScript(document.uri.fsPath, roots)) await adoptDocuments([document]);
}

// A task's terminal: the converter's output, and its exit status as the
// task's result.
function converterTerminal(definition) {
  const write = new vscode.EventEmitter();
  const close = new vscode.EventEmitter();
  let child;
  return {
    onDidWrite: write.event,
    onDidClose: close.event,
    open() {
      const folder = definition.folder || roots[0];
      if (!folder) {
        write.fire('No folder with a main.txt in this workspace.\r\n');
        close.fire(1);
        return;
      }
      const platform = process.platform;
      const run = {
        command: vscode.workspace.getConfiguration('kvscript', vscode.Uri.file(folder)).get('converter.path'),
        args: converter.converterArguments(Boolean(definition.check)),
        cwd: folder,
        env: converter.converterEnvironment(process.env, platform),
        encoding: converter.outputEncoding(platform),
      };
      converter.runConverter(run, (text) => write.fire(text), (started) => { child = started; })
        .then((status) => setTimeout(() => close.fire(status === undefined ? 1 : status), kCloseDelayMs),
          (error) => {
            write.fire(`${error.message}\r\n`);
            close.fire(1);
          });
    },
    close() {
      if (child && child.exitCode === null) child.kill();
    },
  };
}

function makeTask(definition, scope, label) {
  const task = new vscode.Task(definition, scope, label, 'KVConverter',
    new vscode.CustomExecution(async (resolved) => converterTerminal(resolved)), kProblemMatchers);
  task.group = vscode.TaskGroup.Build;
  return task;
}

const taskProvider = {
  provideTasks() {
    const tasks = [];
    for (const root of roots) {
      const folder = vscode.workspace.getWorkspaceFolder(vscode.Uri.file(root));
      const scope = folder || vscode.TaskScope.Workspace;
      const where = roots.length > 1 ? ` (${folder ? path.relative(folder.uri.fsPath, root) || folder.name : root})` : '';
      for (const { label, check } of converter.kTasks) {
        tasks.push(makeTask({ type: kTaskType, check, folder: root }, scope, label + where));
      }
    }
    return tasks;
  },
  // A task written in tasks.json: the same execution for its definition.
  resolveTask(task) {
    return makeTask(task.definition, task.scope || vscode.TaskScope.Workspace, task.name);
  },
};

function showStatus(state) {
  if (!statusItem) return;
  const { text, tooltip } = serverStatus(state);
  statusItem.text = text;
  statusItem.tooltip = tooltip;
  statusItem.show();
}

// What kvls is told at its start: the encoding of the scripts and the games'
// folders.
function initializationOptions() {
  const { scriptEncoding } = encodingsFor(roots.length > 0 ? vscode.Uri.file(roots[0]) : undefined);
  return { sourceEncoding: scripts.sourceEncoding(scriptEncoding), gameRoots: roots };
}

async function startServer(context) {
  const folder = vscode.workspace.workspaceFolders && vscode.workspace.workspaceFolders[0];
  const server = chooseServer({
    configuredPath: vscode.workspace.getConfiguration('kvscript').get('server.path'),
    workspacePath: folder && folder.uri.fsPath,
    extensionPath: context.extensionPath,
    platform: process.platform,
    arch: process.arch,
    exists: fs.existsSync,
  });
  if (!server) {
    log.info('No kvls language server for this system: colouring and the tasks work without it.');
    return;
  }
  if (server.configured && !fs.existsSync(server.path)) {
    vscode.window.showWarningMessage(`kvscript.server.path: "${server.path}" was not found.`);
    showStatus('stopped');
    return;
  }
  // A packed extension may lose the program's execute permission.
  if (!server.configured && process.platform !== 'win32') {
    try {
      fs.chmodSync(server.path, 0o755);
    } catch (error) {
      log.warn(`${server.path}: ${error.message}`);
    }
  }
  const { LanguageClient, TransportKind, State } = require('vscode-languageclient/node');
  const started = new LanguageClient(kLanguage, 'KVScript language server',
    { command: server.path, transport: TransportKind.stdio },
    {
      documentSelector: [{ scheme: 'file', language: kLanguage }],
      outputChannel: log,
      initializationOptions,
    });
  client = started;
  started.onDidChangeState(({ newState }) => {
    if (client !== started) return;
    if (newState === State.Starting) showStatus('starting');
    else if (newState === State.Running) showStatus('ready');
    else showStatus('stopped');
  });
  // kvls says when it analyses the games and when it is done.
  started.onNotification('kvscript/status', (params) => {
    if (client === started && params && (params.state === 'analysing' || params.state === 'ready')) {
      showStatus(params.state);
    }
  });
  showStatus('starting');
  try {
    await started.start();
    log.info(`Started ${server.path}`);
  } catch (error) {
    log.error(`${server.path}: ${error.message}`);
    if (client === started) {
      client = undefined;
      showStatus('stopped');
    }
  }
}

async function stopServer() {
  const running = client;
  client = undefined;
  if (running) {
    try {
      await running.stop(kStopWaitMs);
    } catch (error) {
      log.warn(`kvls: ${error.message}`);
    }
    showStatus('stopped');
  }
}

async function restartServer(context) {
  await stopServer();
  await startServer(context);
}

async function activate(context) {
  const channel = vscode.window.createOutputChannel('KVScript', { log: true });
  log = channel;
  statusItem = vscode.window.createStatusBarItem('kvscript.server', vscode.StatusBarAlignment.Right, 100);
  statusItem.name = 'KVScript language server';
  statusItem.command = 'kvscript.showOutput';
  context.subscriptions.push({ dispose() { log = kClosedLog; channel.dispose(); } }, statusItem);
  await findRoots();

  const mainScripts = vscode.workspace.createFileSystemWatcher('**/main.txt', false, true, false);
  const rootsChanged = async () => {
    await findRoots();
    await adoptDocuments([...vscode.workspace.textDocuments]);
  };
  context.subscriptions.push(
    mainScripts,
    mainScripts.onDidCreate(rootsChanged),
    mainScripts.onDidDelete(rootsChanged),
    vscode.workspace.onDidChangeWorkspaceFolders(rootsChanged),
    vscode.workspace.onDidOpenTextDocument(adopt),
    vscode.tasks.registerTaskProvider(kTaskType, taskProvider),
    vscode.commands.registerCommand('kvscript.restartServer', () => restartServer(context)),
    vscode.commands.registerCommand('kvscript.showOutput', () => log.show(true)),
    vscode.workspace.onDidChangeConfiguration(async (change) => {
      if (change.affectsConfiguration('kvscript.server.path')) await restartServer(context);
      else if (change.affectsConfiguration('kvscript.detectGameScripts')) await rootsChanged();
    }),
    { dispose: () => stopServer() },
    routeMap.register(context, () => client),
  );
  await adoptDocuments([...vscode.workspace.textDocuments]);
  await startServer(context);
}

function deactivate() {
  return stopServer();
}

module.exports = { activate, deactivate };

'use strict';
// The VS Code side of the extension: game scripts open as KVScript in their
// encoding, the "Build game" and "Check game" tasks, and the kvls language
// server when one is found. The decisions live in plain modules beside this
// one, which run and are tested without VS Code.

const fs = require('fs');
const path = require('path');
const vscode = require('vscode');

const { gameRoots, isGameScript, reopenEncoding } = require('./game-scripts');
const converter = require('./converter');
const { chooseServer } = require('./server');
const routeMap = require('./route-map');

const kLanguage = 'kvscript';
const kTaskType = 'kvconverter';
const kProblemMatchers = ['$kvconverter', '$kvconverter-file'];
// How long a finished task's terminal stays open before it is closed: the
// terminal hands its last lines to the problem matchers with a delay of its
// own, and lines that arrive after the close are not matched.
const kCloseDelayMs = 200;

let log;
let roots = [];
let client;

async function findRoots() {
  const found = await vscode.workspace.findFiles('**/main.txt', '**/node_modules/**');
  roots = gameRoots(found.filter((uri) => uri.scheme === 'file').map((uri) => uri.fsPath));
}

// Makes a game script that opened as plain text a KVScript document, in the
// encoding configured for KVScript.
async function adopt(document) {
  if (document.uri.scheme !== 'file' || document.languageId !== 'plaintext') return;
  if (!vscode.workspace.getConfiguration('kvscript', document.uri).get('detectGameScripts')) return;
  if (!isGameScript(document.uri.fsPath, roots)) return;
  const uri = document.uri;
  const plainTextDefault = vscode.workspace.getConfiguration('files', { uri, languageId: 'plaintext' }).get('encoding');
  const scriptEncoding = vscode.workspace.getConfiguration('files', { uri, languageId: kLanguage }).get('encoding');
  try {
    const script = await vscode.languages.setTextDocumentLanguage(document, kLanguage);
    const encoding = reopenEncoding({ current: script.encoding, plainTextDefault, scriptEncoding, dirty: script.isDirty });
    if (encoding) await vscode.workspace.openTextDocument(uri, { encoding });
  } catch (error) {
    log.warn(`${uri.fsPath}: ${error.message}`);
  }
}

function adoptOpenDocuments() {
  return Promise.all(vscode.workspace.textDocuments.map(adopt));
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
  const { LanguageClient, TransportKind } = require('vscode-languageclient/node');
  client = new LanguageClient(kLanguage, 'KVScript language server',
    { command: server.path, transport: TransportKind.stdio },
    { documentSelector: [{ scheme: 'file', language: kLanguage }], outputChannel: log });
  try {
    await client.start();
    log.info(`Started ${server.path}`);
  } catch (error) {
    log.error(`${server.path}: ${error.message}`);
    client = undefined;
  }
}

async function stopServer() {
  const running = client;
  client = undefined;
  if (running) await running.stop();
}

async function activate(context) {
  log = vscode.window.createOutputChannel('KVScript', { log: true });
  context.subscriptions.push(log);
  await findRoots();

  const mainScripts = vscode.workspace.createFileSystemWatcher('**/main.txt', false, true, false);
  const rootsChanged = async () => {
    await findRoots();
    await adoptOpenDocuments();
  };
  context.subscriptions.push(
    mainScripts,
    mainScripts.onDidCreate(rootsChanged),
    mainScripts.onDidDelete(rootsChanged),
    vscode.workspace.onDidChangeWorkspaceFolders(rootsChanged),
    vscode.workspace.onDidOpenTextDocument(adopt),
    vscode.tasks.registerTaskProvider(kTaskType, taskProvider),
    vscode.workspace.onDidChangeConfiguration(async (change) => {
      if (change.affectsConfiguration('kvscript.server.path')) {
        await stopServer();
        await startServer(context);
      }
    }),
    { dispose: () => stopServer() },
    routeMap.register(context, () => client),
  );
  await adoptOpenDocuments();
  await startServer(context);
}

function deactivate() {
  return stopServer();
}

module.exports = { activate, deactivate };

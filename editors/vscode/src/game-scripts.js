'use strict';
// Which files are scripts of a game. A game is a folder that holds main.txt:
// KVConverter starts there and compiles every .txt file below it. It opens
// main.txt through the file system (whose names ignore case on Windows) but
// matches the extensions of the names it lists case-sensitively.

const path = require('path');

const kMainScript = 'main.txt';
const kScriptExtension = '.txt';

function pathApi(platform) {
  return platform === 'win32' ? path.win32 : path.posix;
}

// Windows file names compare without regard to case; POSIX ones exactly.
function comparable(p, platform) {
  return platform === 'win32' ? p.toLowerCase() : p;
}

// The game folders, from the paths of the main.txt files found: sorted, each
// once.
function gameRoots(mainScriptPaths, platform = process.platform) {
  const api = pathApi(platform);
  const roots = new Map();
  for (const mainPath of mainScriptPaths) {
    if (comparable(api.basename(mainPath), platform) !== kMainScript) continue;
    const root = api.dirname(api.normalize(mainPath));
    roots.set(comparable(root, platform), root);
  }
  return [...roots.values()].sort();
}

// The game folder that holds `filePath` (the innermost one), or undefined.
function gameRootOf(filePath, roots, platform = process.platform) {
  const api = pathApi(platform);
  const file = comparable(api.normalize(filePath), platform);
  let found;
  for (const root of roots) {
    const prefix = comparable(root.endsWith(api.sep) ? root : root + api.sep, platform);
    if (file.startsWith(prefix) && (found === undefined || root.length > found.length)) found = root;
  }
  return found;
}

// True when `filePath` is a script of one of the games.
function isGameScript(filePath, roots, platform = process.platform) {
  return filePath.endsWith(kScriptExtension) && gameRootOf(filePath, roots, platform) !== undefined;
}

// The encoding to reopen a game script with, after it opened as plain text
// with `current`, or undefined to keep it. VS Code picks a file's encoding
// before the extension can name its language, so a script first opens with
// the encoding of plain text; it is reopened with the one configured for
// KVScript (Shift_JIS unless the author chose otherwise) only while it still
// has that plain-text default: an encoding that was guessed or chosen for the
// file stays, and so do unsaved changes.
function reopenEncoding({ current, plainTextDefault, scriptEncoding, dirty }) {
  if (dirty || !scriptEncoding || current === scriptEncoding) return undefined;
  return current === plainTextDefault ? scriptEncoding : undefined;
}

module.exports = { kMainScript, gameRoots, gameRootOf, isGameScript, reopenEncoding };

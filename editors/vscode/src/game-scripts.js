'use strict';
// Which files are scripts of a game. A game is a folder that holds main.txt:
// KVConverter starts there and compiles every .txt file below it. It opens
// main.txt through the file system (whose names ignore case on Windows) but
// matches the extensions of the names it lists case-sensitively.

const path = require('path');

const kLanguage = 'kvscript';
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

// The `files.associations` pattern that makes the scripts of the game in
// `root` KVScript files. VS Code chooses a file's encoding from the settings
// of its language before it reads the file, so a script whose language is
// known from such a pattern is decoded in the encoding configured for KVScript
// from the start: Shift_JIS unless the author set
// "[kvscript]": { "files.encoding": ... }. VS Code matches a pattern holding a
// "/" against the whole path in lower case, with "/" standing for either
// separator. A glob character in the folder's name is matched by "?", which
// also matches the character itself.
function associationPattern(root, platform = process.platform) {
  const slashed = platform === 'win32' ? root.replace(/\\/g, '/') : root;
  const trimmed = slashed.endsWith('/') ? slashed.slice(0, -1) : slashed;
  return `${trimmed.replace(/[*?[\]{}]/g, '?')}/**/*${kScriptExtension}`;
}

// The associations to add for `roots`, given the `files.associations` in
// effect: one per game whose pattern is not there yet (an author's own entry
// for the pattern wins, whatever its language).
function associationsToAdd(associations, roots, platform = process.platform) {
  const known = new Set(Object.keys(associations || {}).map((pattern) => pattern.toLowerCase()));
  const added = {};
  for (const root of roots) {
    const pattern = associationPattern(root, platform);
    if (!known.has(pattern.toLowerCase())) added[pattern] = kLanguage;
  }
  return added;
}

// True when a game script that is already open was decoded with the plain-text
// default rather than with the encoding configured for KVScript: it opened
// before its game's association was made. Such a document is closed and read
// again rather than reloaded in place: VS Code keeps a reload in the undo
// history, and an undo would bring back the wrong decoding, which saving
// then writes to disk. An encoding that was guessed or chosen for the file
// stays, and so do unsaved changes.
function needsFreshRead({ current, plainTextDefault, scriptEncoding, dirty }) {
  if (dirty || !scriptEncoding || current === scriptEncoding) return false;
  return current === plainTextDefault;
}

// The name kvls is given for the scripts' encoding, from VS Code's name of
// the encoding configured for KVScript.
function sourceEncoding(filesEncoding) {
  return filesEncoding === 'utf8' || filesEncoding === 'utf8bom' ? 'utf-8' : 'cp932';
}

module.exports = {
  kLanguage, kMainScript, gameRoots, gameRootOf, isGameScript, associationPattern, associationsToAdd,
  needsFreshRead, sourceEncoding,
};

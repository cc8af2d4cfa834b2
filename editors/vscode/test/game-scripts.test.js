'use strict';
// Which files open as KVScript, and in which encoding.

const assert = require('node:assert/strict');
const test = require('node:test');

const {
  gameRoots, isGameScript, associationPattern, associationsToAdd, needsFreshRead, sourceEncoding,
} = require('../src/game-scripts');

test('the .txt files below a folder holding main.txt are game scripts (POSIX)', () => {
  const roots = gameRoots(['/w/game/main.txt', '/w/game/old/main.txt', '/w/notes/readme.txt', '/w/game/main.txt']);
  assert.deepEqual(roots, ['/w/game', '/w/game/old']);
  const scripts = ['/w/game/main.txt', '/w/game/scenes/a.txt', '/w/game/old/b.txt'];
  const others = ['/w/notes/readme.txt', '/w/game2/a.txt', '/w/gamex.txt', '/w/game/A.TXT', '/w/game/a.txt.bak',
    '/w/game/../notes/a.txt'];
  for (const file of scripts) assert.ok(isGameScript(file, roots, 'linux'), file);
  for (const file of others) assert.ok(!isGameScript(file, roots, 'linux'), file);
  assert.ok(!isGameScript('/w/game/a.txt', [], 'linux'));
});

test('Windows paths compare without regard to case, drive letter included', () => {
  const roots = gameRoots(['c:\\Games\\Quest\\main.txt', 'D:\\x\\MAIN.TXT', 'D:\\y\\main.txt.bak'], 'win32');
  assert.deepEqual(roots, ['D:\\x', 'c:\\Games\\Quest']);
  assert.ok(isGameScript('C:\\games\\quest\\scenes\\a.txt', roots, 'win32'));
  assert.ok(!isGameScript('C:\\games\\quest2\\a.txt', roots, 'win32'));
  assert.ok(!isGameScript('C:\\games\\quest\\a.TXT', roots, 'win32'));
});

test('each game gets one association of its scripts, an author\'s own entry kept', () => {
  assert.equal(associationPattern('/w/game', 'linux'), '/w/game/**/*.txt');
  assert.equal(associationPattern('C:\\Games\\Quest\\', 'win32'), 'C:/Games/Quest/**/*.txt');
  // Glob characters in a folder name match as single characters.
  assert.equal(associationPattern('/w/[draft] {v2}*?', 'linux'), '/w/?draft? ?v2???/**/*.txt');
  const existing = { '*.log': 'log', '/W/GAME/**/*.txt': 'plaintext' };
  assert.deepEqual(associationsToAdd(existing, ['/w/game', '/w/other'], 'linux'), { '/w/other/**/*.txt': 'kvscript' });
  assert.deepEqual(associationsToAdd(undefined, ['/w/game'], 'linux'), { '/w/game/**/*.txt': 'kvscript' });
  assert.deepEqual(associationsToAdd({ '/w/game/**/*.txt': 'kvscript' }, ['/w/game'], 'linux'), {});
});

test('only a script decoded with the plain-text default is read again', () => {
  const base = { plainTextDefault: 'utf8', scriptEncoding: 'shiftjis', dirty: false };
  assert.equal(needsFreshRead({ ...base, current: 'utf8' }), true);
  // Chosen or guessed for the file, already right, or edited: kept.
  assert.equal(needsFreshRead({ ...base, current: 'eucjp' }), false);
  assert.equal(needsFreshRead({ ...base, current: 'shiftjis' }), false);
  assert.equal(needsFreshRead({ ...base, current: 'utf8', dirty: true }), false);
  // An author who set UTF-8 for KVScript gets UTF-8.
  assert.equal(needsFreshRead({ ...base, current: 'utf8', scriptEncoding: 'utf8' }), false);
  assert.equal(needsFreshRead({ ...base, current: 'shiftjis', plainTextDefault: 'shiftjis', scriptEncoding: 'utf8' }),
    true);
});

test('kvls is told UTF-8 only for a UTF-8 setting, CP932 otherwise', () => {
  assert.deepEqual(['utf8', 'utf8bom', 'shiftjis', 'cp932', undefined].map(sourceEncoding),
    ['utf-8', 'utf-8', 'cp932', 'cp932', 'cp932']);
});

'use strict';
// Which files open as KVScript, and in which encoding.

const assert = require('node:assert/strict');
const test = require('node:test');

const { gameRoots, isGameScript, reopenEncoding } = require('../src/game-scripts');

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

test('a script is reopened in its encoding only while it has the plain-text default', () => {
  const base = { plainTextDefault: 'utf8', scriptEncoding: 'shiftjis', dirty: false };
  assert.equal(reopenEncoding({ ...base, current: 'utf8' }), 'shiftjis');
  // Chosen or guessed for the file, already right, or edited: kept.
  assert.equal(reopenEncoding({ ...base, current: 'eucjp' }), undefined);
  assert.equal(reopenEncoding({ ...base, current: 'shiftjis' }), undefined);
  assert.equal(reopenEncoding({ ...base, current: 'utf8', dirty: true }), undefined);
  // An author who set UTF-8 for KVScript gets UTF-8.
  assert.equal(reopenEncoding({ ...base, current: 'utf8', scriptEncoding: 'utf8' }), undefined);
  assert.equal(reopenEncoding({ ...base, current: 'shiftjis', plainTextDefault: 'shiftjis', scriptEncoding: 'utf8' }),
    'utf8');
});

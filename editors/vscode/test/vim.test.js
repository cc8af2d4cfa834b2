'use strict';
// The Vim files (editors/vim) in a real Vim: which files become kvscript, in
// which encoding, and the colouring of the generated syntax file. Skipped
// where Vim is missing, unless KV_REQUIRE_VIM is set.

const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');
const test = require('node:test');

const vimFiles = path.resolve(__dirname, '..', '..', 'vim');

// Each line of the buffer as runs of text, each followed by its syntax item.
const dumpFunction = `
function! Runs(lnum) abort
  let out = ''
  let col = 1
  for ch in split(getline(a:lnum), '\\zs')
    let name = synIDattr(synID(a:lnum, col, 1), 'name')
    let out .= ch
    let next = synIDattr(synID(a:lnum, col + len(ch), 1), 'name')
    if next !=# name || col + len(ch) > len(getline(a:lnum)) | let out .= '<' . name . '>' | endif
    let col += len(ch)
  endfor
  return out
endfunction
function! Describe() abort
  return [expand('%:t') . ' ' . &filetype . ' ' . &fileencoding] + map(range(1, line('$')), 'Runs(v:val)')
endfunction
`;

test('Vim reads game scripts as CP932 kvscript and colours them like the converter reads them', (t) => {
  if (spawnSync('vim', ['--version']).status !== 0) {
    if (process.env.KV_REQUIRE_VIM) assert.fail('vim is missing');
    t.skip('vim is missing');
    return;
  }
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kvscript-vim-'));
  try {
    fs.mkdirSync(path.join(dir, 'game', 'scenes'), { recursive: true });
    fs.writeFileSync(path.join(dir, 'game', 'main.txt'), 'create_window;\n');
    // start:text "ゲーム"; x = ゲーム; in CP932
    fs.writeFileSync(path.join(dir, 'game', 'scenes', 'a.txt'), Buffer.concat([
      Buffer.from('start:text "'), Buffer.from([0x83, 0x51, 0x81, 0x5B, 0x83, 0x80]), Buffer.from('"; x = '),
      Buffer.from([0x83, 0x51, 0x81, 0x5B, 0x83, 0x80]), Buffer.from(';\n'),
    ]));
    fs.writeFileSync(path.join(dir, 'notes.txt'), 'text "x";\n');
    const out = path.join(dir, 'out.txt');
    const script = path.join(dir, 'test.vim');
    fs.writeFileSync(script, `set nocompatible encoding=utf-8 fileencodings=utf-8,latin1
let &runtimepath = ${JSON.stringify(vimFiles)} . ',' . &runtimepath
filetype plugin on
syntax on
${dumpFunction}
let lines = []
edit ${path.join(dir, 'game', 'scenes', 'a.txt')}
let lines += Describe() + [&fileencodings]
edit ${path.join(dir, 'notes.txt')}
let lines += Describe()
call writefile(lines, ${JSON.stringify(out)})
qall!
`);
    const vim = spawnSync('vim', ['-u', 'NONE', '-i', 'NONE', '-N', '-es', '-S', script], { timeout: 20000 });
    assert.equal(vim.status, 0, vim.stderr && vim.stderr.toString());
    assert.deepEqual(fs.readFileSync(out, 'utf8').split('\n'), [
      'a.txt kvscript cp932',
      'start:<kvscriptLabel>text<kvscriptCommand> <kvscriptCommandStatement>"ゲーム"<kvscriptString>;<kvscriptTerminator>' +
        ' <>x<kvscriptWord> <kvscriptStatement>=<kvscriptOperator> <kvscriptStatement>ゲ<kvscriptWord>' +
        'ー<kvscriptSplit>ム<kvscriptWord>;<kvscriptTerminator>',
      'utf-8,latin1',
      'notes.txt text utf-8',
      'text "x";<>',
      '',
    ]);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

'use strict';
// The generated grammar against the converter's command table, read here from
// its source: the grammar names exactly the table's commands, and colours
// each of them as the first word of a statement.

const assert = require('node:assert/strict');
const fs = require('fs');
const path = require('path');
const test = require('node:test');
const vsctm = require('vscode-textmate');
const oniguruma = require('vscode-oniguruma');

const repository = path.resolve(__dirname, '..', '..', '..');
const grammarFile = path.join(__dirname, '..', 'syntaxes', 'kvscript.tmLanguage.json');

function commandTable() {
  const source = fs.readFileSync(path.join(repository, 'src', 'language', 'command_table.cpp'), 'utf8');
  const names = [...source.matchAll(/^\s*\{"([^"]+)", \{-?\d+, -?\d+\}\},/gm)].map((match) => match[1]);
  const header = fs.readFileSync(path.join(repository, 'src', 'language', 'command_table.h'), 'utf8');
  assert.equal(names.length, Number(/kCommandCount = (\d+);/.exec(header)[1]));
  return names;
}

async function loadGrammar() {
  const wasm = fs.readFileSync(require.resolve('vscode-oniguruma/release/onig.wasm'));
  await oniguruma.loadWASM(wasm.buffer.slice(wasm.byteOffset, wasm.byteOffset + wasm.byteLength));
  const registry = new vsctm.Registry({
    onigLib: Promise.resolve({
      createOnigScanner: (patterns) => new oniguruma.OnigScanner(patterns),
      createOnigString: (text) => new oniguruma.OnigString(text),
    }),
    loadGrammar: async () => vsctm.parseRawGrammar(fs.readFileSync(grammarFile, 'utf8'), grammarFile),
  });
  return registry.loadGrammar('source.kvscript');
}

test('the grammar names the commands of the command table, each once', () => {
  const grammar = JSON.parse(fs.readFileSync(grammarFile, 'utf8'));
  const begin = grammar.repository['command-statement'].begin;
  const [, blockWords, commands] = /^\(\?:\(([a-z_|]+)\)\|\(([a-z_|]+)\)\)/.exec(begin);
  const named = [...blockWords.split('|'), ...commands.split('|')];
  assert.deepEqual([...named].sort(), commandTable().sort());
});

test('every command is coloured as the first word of a statement', async () => {
  const grammar = await loadGrammar();
  const uncoloured = [];
  for (const name of commandTable()) {
    const [first] = grammar.tokenizeLine(`${name} x;`, vsctm.INITIAL).tokens;
    const scope = first.scopes[first.scopes.length - 1];
    if (first.endIndex !== name.length || !/^(support\.function\.command|keyword\.control\.block)\.kvscript$/.test(scope)) {
      uncoloured.push(`${name}: ${scope}`);
    }
  }
  assert.deepEqual(uncoloured, []);
});

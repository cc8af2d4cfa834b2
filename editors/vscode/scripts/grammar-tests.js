'use strict';
// The grammar tests: vscode-tmgrammar-test runs the scope assertions of
// test/grammar/*.kvtest, and those of test/grammar/sample_game.scopes on the
// scripts of examples/sample_game. Those scripts are CP932: they are converted
// to UTF-8, as the editor shows them, into out/grammar/ with the assertion
// lines under the lines they name.

const fs = require('fs');
const path = require('path');
const { spawnSync } = require('child_process');

const extensionDir = path.resolve(__dirname, '..');
const grammarTests = path.join(extensionDir, 'test', 'grammar');
const sampleGame = path.resolve(extensionDir, '..', '..', 'examples', 'sample_game');
const outDir = path.join(extensionDir, 'out', 'grammar');

function fail(message) {
  console.error(`grammar tests: ${message}`);
  process.exit(1);
}

// "@ FILE LINE: TEXT" heads the assertion lines for one line of a script.
function readAssertions(scopesFile) {
  const byFile = new Map();
  let current;
  fs.readFileSync(scopesFile, 'utf8').split('\n').forEach((line, index) => {
    const where = `${path.basename(scopesFile)}:${index + 1}`;
    const head = /^@ (\S+) (\d+): (.*)$/.exec(line);
    if (head) {
      const [, file, lineNumber, text] = head;
      if (!byFile.has(file)) byFile.set(file, new Map());
      current = { text, assertions: [], where };
      byFile.get(file).set(Number(lineNumber), current);
    } else if (line.startsWith('//')) {
      if (!current) fail(`${where}: an assertion before any "@ FILE LINE: TEXT"`);
      current.assertions.push(line);
    } else if (line !== '' && !line.startsWith('#')) {
      fail(`${where}: not an assertion: ${line}`);
    }
  });
  return byFile;
}

function sampleTests() {
  const tests = [];
  for (const [file, lines] of readAssertions(path.join(grammarTests, 'sample_game.scopes'))) {
    const source = path.join(sampleGame, file);
    const text = new TextDecoder('shift_jis', { fatal: true }).decode(fs.readFileSync(source));
    const out = [`// SYNTAX TEST "source.kvscript" "${file} of the sample game"`];
    text.split(/\r?\n/).forEach((line, index) => {
      out.push(line);
      const named = lines.get(index + 1);
      if (!named) return;
      if (named.text !== line) fail(`${named.where}: ${file} line ${index + 1} reads "${line}", not "${named.text}"`);
      out.push(...named.assertions);
      lines.delete(index + 1);
    });
    for (const [lineNumber, named] of lines) fail(`${named.where}: ${file} has no line ${lineNumber}`);
    const target = path.join(outDir, 'sample_game', `${file}.kvtest`);
    fs.mkdirSync(path.dirname(target), { recursive: true });
    fs.writeFileSync(target, out.join('\n'));
    tests.push(target);
  }
  return tests;
}

fs.rmSync(outDir, { recursive: true, force: true });
const tests = [
  ...fs.readdirSync(grammarTests).filter((name) => name.endsWith('.kvtest')).map((name) => path.join(grammarTests, name)),
  ...sampleTests(),
];
const runner = path.join(path.dirname(require.resolve('vscode-tmgrammar-test/package.json')), 'dist', 'unit.js');
const result = spawnSync(process.execPath, [runner, ...tests.map((test) => path.relative(extensionDir, test))],
  { cwd: extensionDir, stdio: 'inherit' });
process.exit(result.status === null ? 1 : result.status);

'use strict';
// The problem matchers of package.json, applied as VS Code applies them, to
// what the tasks' terminal shows of real `--diagnostics=gnu` runs of a broken
// game: the Linux build, and the Windows build under Wine. The programs come
// from build/ and build-windows/ (or KVCONVERTER, KVCONVERTER_WINDOWS); a run
// whose program is missing is skipped unless KV_REQUIRE_BUILDS is set.

const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { spawnSync } = require('child_process');
const test = require('node:test');

const converter = require('../src/converter');
const manifest = require('../package.json');

const repository = path.resolve(__dirname, '..', '..', '..');

// Each line against each matcher, as VS Code's single-line matchers do: the
// groups the pattern names, file, severity and message trimmed.
function problems(lines) {
  const found = [];
  for (const line of lines) {
    for (const matcher of manifest.contributes.problemMatchers) {
      const { pattern } = matcher;
      const match = new RegExp(pattern.regexp).exec(line);
      if (!match) continue;
      const group = (name) => (pattern[name] === undefined ? undefined : match[pattern[name]]);
      found.push({
        matcher: matcher.name,
        file: group('file').trim(),
        line: group('line') === undefined ? undefined : Number(group('line')),
        column: group('column') === undefined ? undefined : Number(group('column')),
        severity: group('severity').trim(),
        message: group('message').trim(),
      });
    }
  }
  return found;
}

const mainScript = 'create_window;\nfunction greet;\nfunction_end;\nstart:\nfunction_call greeet;\n' +
  'goto start;\nx = (1;\nstart:\n';
const endScript = 'goto ending;\ntext bye\n';

function brokenGame() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kvscript-game-'));
  fs.mkdirSync(path.join(dir, 'scenes'));
  fs.writeFileSync(path.join(dir, 'main.txt'), mainScript);
  fs.writeFileSync(path.join(dir, 'scenes', 'end.txt'), endScript);
  return dir;
}

// The problems a task run shows, and its exit status: the converter run the
// way the task runs it, its output split into the terminal's lines.
async function runTask({ command, prefix, platform, cwd, env, extraArgs = [] }) {
  let text = '';
  const status = await converter.runConverter({
    command,
    args: [...prefix, ...converter.converterArguments(true), ...extraArgs],
    cwd,
    env: converter.converterEnvironment(env, platform),
    encoding: converter.outputEncoding(platform),
  }, (written) => { text += written; });
  return { status, found: problems(text.split('\r\n')) };
}

function expectedProblems(file) {
  return [
    { matcher: 'kvconverter', file: file('main.txt'), line: 7, column: 5, severity: 'error',
      message: ') がありません' },
    { matcher: 'kvconverter', file: file('scenes/end.txt'), line: 2, column: 1, severity: 'warning',
      message: '; がないためファイルの終端のコマンドを無視しました' },
    { matcher: 'kvconverter', file: file('main.txt'), line: 5, column: 15, severity: 'warning',
      message: '関数 "greeet" はどのスクリプトにも定義されていません [undefined-function]' },
    { matcher: 'kvconverter', file: file('main.txt'), line: 8, column: 1, severity: 'warning',
      message: 'ラベル "start" はこのスクリプトで既に定義されています (この定義は使われません) [duplicate-label]' },
    { matcher: 'kvconverter', file: file('scenes/end.txt'), line: 1, column: 6, severity: 'warning',
      message: 'ラベル "ending" はどのスクリプトにも定義されていません [undefined-label]' },
    { matcher: 'kvconverter', file: file('scenes/end.txt'), line: 1, column: 1, severity: 'warning',
      message: `スクリプト "${file('scenes/end.txt')}" はどの script_change と script_load にも書かれておらず、` +
        'そのラベルと関数もどこからも使われていません [unreached-script]' },
    { matcher: 'kvconverter', file: file('scenes/end.txt'), line: 1, column: 1, severity: 'note',
      message: 'ゲームのフォルダ以下の .txt ファイルはすべてスクリプトとしてコンバートされます。' +
        'スクリプトでないファイルはフォルダの外に置いてください' },
  ];
}

// An option error concerns no script: the program names itself, and a note
// says where the help is.
const optionProblem = [
  { matcher: 'kvconverter-file', file: 'KVConverter', line: undefined, column: undefined,
    severity: 'error', message: 'オプション "-l" に値が指定されていません' },
  { matcher: 'kvconverter-file', file: 'KVConverter', line: undefined, column: undefined,
    severity: 'note', message: 'オプションの一覧は KVConverter --help で表示できます' },
];

function program(envName, defaultPath, t) {
  const file = process.env[envName] || defaultPath;
  if (fs.existsSync(file)) return file;
  if (process.env.KV_REQUIRE_BUILDS) assert.fail(`${file} is missing`);
  t.skip(`${file} is missing`);
  return undefined;
}

function findWine64() {
  const which = spawnSync('sh', ['-c', 'command -v wine64'], { encoding: 'utf8' }).stdout.trim();
  return ['/usr/lib/wine/wine64', '/usr/lib/x86_64-linux-gnu/wine/wine64', which]
    .find((candidate) => candidate && fs.existsSync(candidate));
}

test('the Linux build: every error and warning, with its file and line', async (t) => {
  const command = program('KVCONVERTER', path.join(repository, 'build', 'KVConverter'), t);
  if (!command) return;
  const cwd = brokenGame();
  // A locale that is not UTF-8: the task chooses one that is.
  const env = { ...process.env, LANG: 'C', LC_CTYPE: '', LC_ALL: '' };
  try {
    const build = await runTask({ command, prefix: [], platform: 'linux', cwd, env });
    assert.equal(build.status, 1);
    assert.deepEqual(build.found, expectedProblems((name) => path.join(cwd, name)));
    const options = await runTask({ command, prefix: [], platform: 'linux', cwd, env, extraArgs: ['-l'] });
    assert.deepEqual(options.found, optionProblem);
  } finally {
    fs.rmSync(cwd, { recursive: true, force: true });
  }
});

test('the Windows build under Wine: drive letters and CP932 output', async (t) => {
  const exe = program('KVCONVERTER_WINDOWS', path.join(repository, 'build-windows', 'KVConverter.exe'), t);
  if (!exe) return;
  const wine64 = findWine64();
  if (!wine64) {
    if (process.env.KV_REQUIRE_BUILDS) assert.fail('wine64 is missing');
    t.skip('wine64 is missing');
    return;
  }
  const ownPrefix = process.env.WINEPREFIX ? undefined : fs.mkdtempSync(path.join(os.tmpdir(), 'kvscript-wine-'));
  const env = { ...process.env, WINEDEBUG: '-all', WINEPREFIX: ownPrefix || process.env.WINEPREFIX };
  const cwd = brokenGame();
  try {
    const build = await runTask({ command: wine64, prefix: [exe], platform: 'win32', cwd, env });
    assert.equal(build.status, 1);
    // Wine shows the Linux root as drive Z:.
    const windowsPath = (name) => `Z:${path.join(cwd, name).replace(/\//g, '\\')}`;
    assert.deepEqual(build.found, expectedProblems(windowsPath));
    const options = await runTask({ command: wine64, prefix: [exe], platform: 'win32', cwd, env, extraArgs: ['-l'] });
    assert.deepEqual(options.found, optionProblem);
  } finally {
    fs.rmSync(cwd, { recursive: true, force: true });
    if (ownPrefix) {
      spawnSync(path.join(path.dirname(wine64), 'wineserver'), ['-k'], { env });
      fs.rmSync(ownPrefix, { recursive: true, force: true });
    }
  }
});

test('columns, notes and files without a line; other output matches nothing', () => {
  assert.deepEqual(problems([
    'C:\\game\\main.txt:7:3: error: ) がありません',
    '/home/you/game/main.txt:12:1: note: ここで開かれています',
    'C:\\game\\scenes\\a.txt: error: ファイルを読み込めませんでした',
    '/home/you/game/main.txt: warning: 先頭に UTF-8 の BOM があります',
    '/home/you/game/main.txt をコンバート中...',
    'エラーがあるため "script.kvo" は更新されていません',
    '結果 : 失敗 / エラー 1件 / 警告 4件',
  ]), [
    { matcher: 'kvconverter', file: 'C:\\game\\main.txt', line: 7, column: 3, severity: 'error',
      message: ') がありません' },
    { matcher: 'kvconverter', file: '/home/you/game/main.txt', line: 12, column: 1, severity: 'note',
      message: 'ここで開かれています' },
    { matcher: 'kvconverter-file', file: 'C:\\game\\scenes\\a.txt', line: undefined, column: undefined,
      severity: 'error', message: 'ファイルを読み込めませんでした' },
    { matcher: 'kvconverter-file', file: '/home/you/game/main.txt', line: undefined, column: undefined,
      severity: 'warning', message: '先頭に UTF-8 の BOM があります' },
  ]);
});

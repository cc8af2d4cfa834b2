'use strict';
// The route map page in headless Chromium: the sample game's map and a
// generated game of 385 scripts drawn, a click asking the extension to open
// the node's script, the search, and the marks of unreachable and undefined
// nodes. Screenshots are kept in build/artifacts/route-map/. Without
// Chromium or the programs that make the maps the test is skipped, unless
// KV_REQUIRE_BUILDS is set.

const assert = require('node:assert/strict');
const fs = require('fs');
const os = require('os');
const path = require('path');
const { execFileSync } = require('child_process');
const { pathToFileURL } = require('url');
const test = require('node:test');
const { pageHtml } = require('../src/route-map-page');

const root = path.resolve(__dirname, '..', '..', '..');
const artifacts = path.join(root, 'build', 'artifacts', 'route-map');

function needed(envName, candidates, t) {
  const file = [process.env[envName], ...candidates].find((candidate) => candidate && fs.existsSync(candidate));
  if (file) return file;
  if (process.env.KV_REQUIRE_BUILDS) assert.fail(`${envName}: none of ${candidates.join(', ')} exists`);
  t.skip(`${candidates[0]} is missing`);
  return undefined;
}

function routeMap(converter, gameDir, name) {
  const file = path.join(artifacts, name);
  execFileSync(converter, [`--route-map=${file}`], { cwd: gameDir, stdio: 'ignore', timeout: 60000 });
  return JSON.parse(fs.readFileSync(file, 'utf8'));
}

async function openPage(browser) {
  const file = path.join(artifacts, 'page.html');
  const url = (relative) => pathToFileURL(path.join(__dirname, '..', relative)).href;
  fs.writeFileSync(file, pageHtml({ cspSource: 'file:', nonce: 'test', vizUri: url('node_modules/@viz-js/viz/dist/viz-global.js'),
    scriptUri: url('media/route-map.js'), styleUri: url('media/route-map.css') }));
  const page = await browser.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error.message));
  page.on('console', (message) => { if (message.type() === 'error') errors.push(message.text()); });
  await page.evaluateOnNewDocument(() => {
    window.posted = [];
    window.acquireVsCodeApi = () => ({ postMessage: (message) => window.posted.push(message) });
  });
  await page.setViewport({ width: 1400, height: 900 });
  await page.goto(pathToFileURL(file).href);
  await page.waitForFunction(() => window.posted.some((message) => message.type === 'ready'), { timeout: 30000 });
  page.errors = errors;
  return page;
}

async function show(page, map) {
  await page.evaluate((sent) => {
    document.getElementById('map').textContent = '';
    window.posted = [];
    window.postMessage({ type: 'map', map: sent }, '*');
  }, map);
  await page.waitForSelector('#map svg', { timeout: 60000 });
}

const shownIds = (page) => page.$$eval('#map g.node', (nodes) => nodes.map((node) => node.id).sort());
const edgeCount = (page) => page.$$eval('#map g.edge', (edges) => edges.length);

test('the route map page draws, finds, marks and opens', { timeout: 240000 }, async (t) => {
  const chromium = needed('KV_CHROMIUM', ['/usr/bin/chromium'], t);
  const converter = chromium && needed('KV_CONVERTER', [path.join(root, 'build', 'KVConverter')], t);
  const makeTree = converter && needed('KV_MAKE_SCRIPT_TREE',
    [path.join(root, 'build-bench', 'bench', 'make_script_tree'), path.join(root, 'build', 'make_script_tree')], t);
  if (!makeTree) return;
  fs.mkdirSync(artifacts, { recursive: true });
  const puppeteer = require('puppeteer-core');
  const browser = await puppeteer.launch({ executablePath: chromium, headless: true,
    args: ['--no-sandbox', '--allow-file-access-from-files', '--disable-gpu'] });
  const page = await openPage(browser);
  try {
    await t.test('the sample game: every node and edge, a click, the search', async () => {
      const map = routeMap(converter, path.join(root, 'examples', 'sample_game'), 'sample.json');
      await show(page, map);
      assert.deepEqual(await shownIds(page), map.nodes.map((node) => node.id).sort());
      assert.equal(await edgeCount(page), map.edges.length);

      const label = map.nodes.find((node) => node.kind === 'label' && node.script !== map.nodes[0].id) || map.nodes[3];
      const script = map.nodes.find((node) => node.id === label.script);
      await page.click(`#map g.node[id="${label.id}"]`);
      assert.deepEqual(await page.evaluate(() => window.posted), [{ type: 'open', node: label.id, path: script.path,
        line: label.line, column: label.column }]);

      // The search ignores case; Enter moves to the next node found.
      await page.type('#search', label.name.toUpperCase());
      const found = await page.$$eval('#map g.node.found', (nodes) => nodes.map((node) => node.id));
      assert.ok(found.includes(label.id), `${label.id} in ${found}`);
      const current = () => page.$$eval('#map g.node.current', (nodes) => nodes.map((node) => node.id));
      assert.deepEqual(await current(), [found[0]]);
      await page.focus('#search');
      await page.keyboard.press('Enter');
      assert.deepEqual(await current(), [found[1 % found.length]]);
      await page.screenshot({ path: path.join(artifacts, 'sample.png'), fullPage: true });
      await page.$eval('#search', (input) => { input.value = ''; });
    });

    await t.test('unreachable nodes greyed and listed, undefined targets red', async () => {
      const node = (id, kind, name, extra) => ({ id, kind, name, file: 'main.txt', line: 1, column: 1, script: 'n0', reachable: true, ...extra });
      const map = {
        nodes: [
          node('n0', 'script', 'main.txt', { path: '/g/main.txt' }),
          node('n1', 'label', 'here', { line: 2 }),
          node('n2', 'label', 'lost', { line: 5, reachable: false }),
          { id: 'n3', kind: 'undefined', name: 'nowhere', reachable: true },
        ],
        edges: [{ from: 'n0', to: 'n1', kind: 'fall_through' }, { from: 'n1', to: 'n3', kind: 'goto', label: 'f == 1' },
          { from: 'n2', to: 'n1', kind: 'goto' }],
        unreachable: ['n2'],
        unknownRoutes: false,
      };
      await show(page, map);
      assert.deepEqual(await page.$$eval('#map g.node.unreached', (nodes) => nodes.map((n) => n.id)), ['n2']);
      assert.equal(await page.$eval('#map g.node.unreached path, #map g.node.unreached polygon', (shape) => shape.getAttribute('fill')), 'lightgrey');
      assert.equal(await page.$eval('#map g.node[id="n3"] polygon', (shape) => shape.getAttribute('stroke')), 'red');
      assert.match(await page.$eval('#map', (view) => view.textContent), /f == 1/);
      assert.deepEqual(await page.$$eval('#unreachable li', (items) => items.map((item) => item.textContent)), ['main.txt lost:']);
      // A node the map places in no script asks for nothing.
      await page.click('#map g.node[id="n3"]');
      assert.deepEqual(await page.evaluate(() => window.posted), []);
    });

    await t.test('a generated game of 385 scripts: folded scripts, unfolded on a click, one script alone', async () => {
      const game = fs.mkdtempSync(path.join(os.tmpdir(), 'route-map-game-'));
      t.after(() => fs.rmSync(game, { recursive: true, force: true }));
      execFileSync(makeTree, [game, '1', '385'], { stdio: 'ignore', timeout: 60000 });
      const map = routeMap(converter, game, 'generated.json');
      const scripts = map.nodes.filter((node) => node.kind === 'script');
      assert.equal(scripts.length, 386);
      await show(page, map);
      // Folded: one box a script, and the start.
      assert.deepEqual(await shownIds(page), [...scripts.map((node) => node.id), 'n1'].sort());
      assert.ok(await edgeCount(page) >= 385, 'each script is reached by some edge');
      const loops = await page.$$eval('#map g.edge title', (titles) =>
        titles.map((title) => title.textContent.split('->')).filter(([from, to]) => from === to));
      assert.deepEqual(loops, [], 'no edge inside a folded script is drawn');

      const script = scripts[1];
      const members = map.nodes.filter((node) => node.script === script.id && node.id !== script.id);
      await page.click(`#map g.node[id="${script.id}"]`);
      await page.waitForSelector(`#map g.node[id="${members[0].id}"]`, { timeout: 60000 });
      assert.deepEqual(await page.evaluate(() => window.posted), []);
      await page.screenshot({ path: path.join(artifacts, 'generated.png') });

      // A label of a folded script is found: its script opens.
      const hidden = map.nodes.find((node) => node.kind === 'label' && node.script === scripts[5].id);
      await page.type('#search', hidden.name);
      await page.waitForSelector(`#map g.node.found[id="${hidden.id}"]`, { timeout: 60000 });
      await page.$eval('#search', (input) => { input.value = ''; });

      await page.select('#scope', script.id);
      const shown = await shownIds(page);
      for (const member of members) assert.ok(shown.includes(member.id), `${member.id} in the script's view`);
      assert.ok(shown.length < 100, 'only the script and its neighbours');
      await page.click(`#map g.node[id="${members[0].id}"]`);
      assert.deepEqual(await page.evaluate(() => window.posted.map((message) => message.node)), [members[0].id]);
      await page.screenshot({ path: path.join(artifacts, 'generated-script.png'), fullPage: true });
    });
    assert.deepEqual(page.errors, []);
  } finally {
    await browser.close();
  }
});

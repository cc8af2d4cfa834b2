'use strict';
// Which kvls the extension starts.

const assert = require('node:assert/strict');
const path = require('path');
const test = require('node:test');

const { chooseServer, serverStatus } = require('../src/server');

test('a configured server wins; otherwise the bundled one for this system, if packed', () => {
  const bundled = new Set([path.join('/ext', 'server', 'linux-x64', 'kvls'),
    path.join('/ext', 'server', 'win32-x64', 'kvls.exe')]);
  const choose = (options) => chooseServer({ extensionPath: '/ext', exists: (file) => bundled.has(file), ...options });
  assert.deepEqual(choose({ platform: 'linux', arch: 'x64' }),
    { path: path.join('/ext', 'server', 'linux-x64', 'kvls'), configured: false });
  assert.deepEqual(choose({ platform: 'win32', arch: 'x64' }),
    { path: path.join('/ext', 'server', 'win32-x64', 'kvls.exe'), configured: false });
  assert.equal(choose({ platform: 'linux', arch: 'arm64' }), undefined);
  assert.equal(choose({ platform: 'darwin', arch: 'x64' }), undefined);
  assert.deepEqual(choose({ platform: 'linux', arch: 'x64', configuredPath: 'tools/kvls', workspacePath: '/w' }),
    { path: path.resolve('/w', 'tools/kvls'), configured: true });
  assert.deepEqual(choose({ platform: 'linux', arch: 'arm64', configuredPath: '/opt/kvls' }),
    { path: '/opt/kvls', configured: true });
});

test('the status bar names the server\'s state; an unknown one reads as stopped', () => {
  assert.match(serverStatus('analysing').text, /kvls: analysing$/);
  assert.match(serverStatus('ready').text, /kvls: ready$/);
  assert.match(serverStatus('bogus').text, /kvls: stopped$/);
});

'use strict';
// Runs before `vsce package`: checks that the generated editor files are
// there, and copies the kvls language servers that the repository's builds
// made (build/kvls, build-windows/kvls.exe) into server/PLATFORM-ARCH/, from
// where the extension starts them. A build that is missing is left out.
// KV_BUILD_DIR and KV_WINDOWS_BUILD_DIR name other build folders.

const fs = require('fs');
const path = require('path');
const { bundledServerPath } = require('../src/server');

const extensionDir = path.resolve(__dirname, '..');
const repository = path.resolve(extensionDir, '..', '..');

const generated = ['syntaxes/kvscript.tmLanguage.json', 'language-configuration.json'];
const missing = generated.filter((file) => !fs.existsSync(path.join(extensionDir, file)));
if (missing.length > 0) {
  console.error(`Missing ${missing.join(', ')}: build the target editor_files first ` +
    '(cmake --build --preset default --target editor_files).');
  process.exit(1);
}

const builds = [
  { dir: process.env.KV_BUILD_DIR || path.join(repository, 'build'), platform: 'linux', arch: 'x64' },
  { dir: process.env.KV_WINDOWS_BUILD_DIR || path.join(repository, 'build-windows'), platform: 'win32', arch: 'x64' },
];
// Servers of an earlier packaging never stay behind.
fs.rmSync(path.join(extensionDir, 'server'), { recursive: true, force: true });
for (const { dir, platform, arch } of builds) {
  const target = bundledServerPath(extensionDir, platform, arch);
  const source = path.join(dir, path.basename(target));
  if (!fs.existsSync(source)) {
    console.log(`No ${source}: the package has no ${platform}-${arch} language server.`);
    continue;
  }
  fs.mkdirSync(path.dirname(target), { recursive: true });
  fs.copyFileSync(source, target);
  fs.chmodSync(target, 0o755);
  console.log(`Bundled ${source} as ${path.relative(extensionDir, target)}`);
}

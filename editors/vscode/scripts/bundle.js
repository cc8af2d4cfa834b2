'use strict';
// Runs before `vsce package`: bundles the extension and the npm packages it
// uses into dist/extension.js, so that the package carries no node_modules,
// and writes dist/THIRD-PARTY-NOTICES.txt with the licence of each npm package
// that went into the bundle. The route map view's Graphviz (a script that the
// page loads, not the extension) is copied beside it into dist/viz/.

const fs = require('fs');
const path = require('path');
const esbuild = require('esbuild');

const extensionDir = path.resolve(__dirname, '..');
const dist = path.join(extensionDir, 'dist');

// The folder of the npm package that holds `file` (a path from the metafile),
// or undefined for the extension's own files.
function packageOf(file) {
  const parts = file.split(/[\\/]/);
  const index = parts.lastIndexOf('node_modules');
  if (index < 0) return undefined;
  const length = parts[index + 1].startsWith('@') ? 2 : 1;
  return parts.slice(0, index + 1 + length).join('/');
}

const kPageLibraries = [{ dir: 'node_modules/@viz-js/viz', file: 'dist/viz-global.js', into: 'viz' }];

// A page library that ships no licence file carries its notice at the top of
// the script that is copied (a /*! … */ comment); that comment is quoted.
function pageLibraryNotice(dir) {
  const library = kPageLibraries.find((candidate) => candidate.dir === dir);
  if (!library) return undefined;
  const script = fs.readFileSync(path.join(extensionDir, library.dir, library.file), 'utf8');
  const header = /^\/\*!([\s\S]*?)\*\//.exec(script);
  return header ? `${header[1].trim()}\n\n(the notice at the top of dist/${library.into}/` +
    `${path.basename(library.file)}, which is copied unchanged)` : undefined;
}

function notices(metafile) {
  const packages = [...new Set([...Object.keys(metafile.inputs).map(packageOf).filter(Boolean),
    ...kPageLibraries.map((library) => library.dir)])].sort();
  const sections = packages.map((dir) => {
    const manifest = JSON.parse(fs.readFileSync(path.join(extensionDir, dir, 'package.json'), 'utf8'));
    const licence = fs.readdirSync(path.join(extensionDir, dir)).find((name) => /^licen[cs]e/i.test(name));
    const text = licence ? fs.readFileSync(path.join(extensionDir, dir, licence), 'utf8').trim()
      : pageLibraryNotice(dir);
    if (!text) throw new Error(`${dir} has no licence file to carry`);
    return `${manifest.name} ${manifest.version} (${manifest.license})\n\n${text}\n`;
  });
  return 'The extension bundles these npm packages, under these licences.\n\n' +
    sections.join(`\n${'-'.repeat(72)}\n\n`);
}

async function main() {
  fs.rmSync(dist, { recursive: true, force: true });
  const result = await esbuild.build({
    entryPoints: [path.join(extensionDir, 'src', 'extension.js')],
    outfile: path.join(dist, 'extension.js'),
    bundle: true,
    platform: 'node',
    format: 'cjs',
    target: 'node20',
    external: ['vscode'],
    minify: true,
    metafile: true,
    logLevel: 'warning',
  });
  for (const library of kPageLibraries) {
    const from = path.join(extensionDir, library.dir, library.file);
    fs.mkdirSync(path.join(dist, library.into), { recursive: true });
    fs.copyFileSync(from, path.join(dist, library.into, path.basename(from)));
  }
  fs.writeFileSync(path.join(dist, 'THIRD-PARTY-NOTICES.txt'), notices(result.metafile));
  console.log(`Bundled ${path.relative(extensionDir, path.join(dist, 'extension.js'))} ` +
    `(${fs.statSync(path.join(dist, 'extension.js')).size} bytes)`);
}

main().catch((error) => {
  console.error(error.message);
  process.exit(1);
});

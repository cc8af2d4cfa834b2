#!/usr/bin/env bash
# Installs code-server (VS Code in the browser) from the npm registry for the
# end-to-end test of the extension, into a folder outside the checkout that
# later runs reuse: KV_CODE_SERVER_DIR, by default
# /var/cache/kvscript-e2e/code-server-VERSION. Prints the folder that holds
# out/node/entry.js.
#
# The package's own install script downloads ripgrep and needs a build of
# native modules against Node's headers: Debian's headers (/usr/include/node)
# and Debian's rg stand in, so the only download is from the npm registry.
# About 300 MB and three minutes on two cores.
set -euo pipefail

version=4.100.3
cache=${KV_CODE_SERVER_DIR:-/var/cache/kvscript-e2e/code-server-$version}
server=$cache/node_modules/code-server

if [ -f "$cache/.complete" ]; then
  echo "$server"
  exit 0
fi

rg=$(command -v rg) || { echo "install-code-server: rg (Debian's ripgrep) is missing" >&2; exit 1; }
# The install is made in a folder beside the cache and renamed into place, so
# that a broken run never leaves a half-made install that looks complete.
rm -rf "$cache.partial"
mkdir -p "$cache.partial"
cd "$cache.partial"
export npm_config_nodedir=/usr npm_config_yes=true npm_config_audit=false npm_config_fund=false
export PUPPETEER_SKIP_DOWNLOAD=1
{
  echo '{"name": "kvscript-e2e-code-server", "private": true}' > package.json
  npm install --ignore-scripts "code-server@$version"
  npm rebuild argon2
  cd node_modules/code-server/lib/vscode
  npm install --ignore-scripts --omit=dev
  mkdir -p node_modules/@vscode/ripgrep/bin
  cp "$rg" node_modules/@vscode/ripgrep/bin/rg
  npm rebuild --foreground-scripts
  # What the package's postinstall.sh makes after its install.
  ln -sfn node_modules node_modules.asar
  ln -sfn code-linux.sh bin/remote-cli/code-server
  ln -sfn browser-linux.sh bin/helpers/browser.sh
  (cd extensions && npm install --omit=dev)
} >&2
cd /
rm -rf "$cache"
mv "$cache.partial" "$cache"
touch "$cache/.complete"
echo "$server"

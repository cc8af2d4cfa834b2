'use strict';
// Where the kvls language server is: the program a setting names, or the one
// bundled with the extension for this system (server/PLATFORM-ARCH/kvls, with
// .exe on Windows), copied in when the extension was packaged.

const path = require('path');

function serverProgramName(platform) {
  return platform === 'win32' ? 'kvls.exe' : 'kvls';
}

function bundledServerPath(extensionPath, platform, arch) {
  return path.join(extensionPath, 'server', `${platform}-${arch}`, serverProgramName(platform));
}

// The server to start: { path, configured } or undefined when there is none.
// A configured path is used as given (relative to the workspace folder when
// relative), whether or not it exists, so that a wrong setting is reported.
function chooseServer({ configuredPath, workspacePath, extensionPath, platform, arch, exists }) {
  if (configuredPath) {
    const resolved = workspacePath ? path.resolve(workspacePath, configuredPath) : configuredPath;
    return { path: resolved, configured: true };
  }
  const bundled = bundledServerPath(extensionPath, platform, arch);
  return exists(bundled) ? { path: bundled, configured: false } : undefined;
}

// The status bar's words for the server's state: starting, analysing (the
// games), ready or stopped.
const kStatus = {
  starting: { icon: '$(loading~spin)', tooltip: 'kvls is starting' },
  analysing: { icon: '$(sync~spin)', tooltip: 'kvls is analysing the game' },
  ready: { icon: '$(check)', tooltip: 'kvls is ready' },
  stopped: { icon: '$(circle-slash)', tooltip: 'kvls has stopped: "KVScript: Restart Language Server" starts it again' },
};

function serverStatus(state) {
  const { icon, tooltip } = kStatus[state] || kStatus.stopped;
  return { text: `${icon} kvls: ${kStatus[state] ? state : 'stopped'}`, tooltip: `${tooltip}. Click for its output.` };
}

module.exports = { serverProgramName, bundledServerPath, chooseServer, serverStatus };

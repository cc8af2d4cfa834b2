'use strict';
// Running KVConverter for the "Build game" and "Check game" tasks.
//
// The converter waits for Enter after its result line when its standard input
// is a terminal, so it is started with no standard input rather than in the
// task's terminal, and its output is passed on to that terminal here. Its
// messages are CP932 text, printed as UTF-8 only under a UTF-8 locale (POSIX)
// or on a UTF-8 console (Windows, never for a pipe): the output is decoded
// accordingly.

const { spawn } = require('child_process');

const kTasks = [
  { label: 'Build game', check: false },
  { label: 'Check game', check: true },
];

function converterArguments(check) {
  return check ? ['--check', '--diagnostics=gnu'] : ['--diagnostics=gnu'];
}

// The environment to run the converter in: on POSIX a UTF-8 locale, kept if
// the editor's environment already names one.
function converterEnvironment(env, platform) {
  if (platform === 'win32') return env;
  const locale = env.LC_ALL || env.LC_CTYPE || env.LANG || '';
  if (/utf-?8/i.test(locale)) return env;
  return { ...env, LC_ALL: 'C.UTF-8' };
}

// The encoding of the converter's output through a pipe.
function outputEncoding(platform) {
  return platform === 'win32' ? 'shift_jis' : 'utf-8';
}

// A decoder for the converter's output. A runtime without the CP932 tables
// (a Node built without full ICU) shows the output undecoded rather than not
// at all.
function outputDecoder(encoding) {
  try {
    return new TextDecoder(encoding);
  } catch {
    return new TextDecoder('utf-8');
  }
}

// Runs the converter with no standard input and hands its decoded output to
// `write`, line feeds turned into the CR LF a terminal wants. Resolves to the
// exit status, or to undefined when the program could not be started (the
// reason is written first).
function runConverter({ command, args, cwd, env, encoding }, write, onStart) {
  return new Promise((resolve) => {
    const decoders = [outputDecoder(encoding), outputDecoder(encoding)];
    const pass = (decoder, bytes, end) => {
      const text = decoder.decode(bytes, { stream: !end });
      if (text) write(text.replace(/\r?\n/g, '\r\n'));
    };
    let child;
    try {
      child = spawn(command, args, { cwd, env, stdio: ['ignore', 'pipe', 'pipe'], windowsHide: true });
    } catch (error) {
      write(`${command}: ${error.message}\r\n`);
      resolve(undefined);
      return;
    }
    if (onStart) onStart(child);
    child.stdout.on('data', (bytes) => pass(decoders[0], bytes, false));
    child.stderr.on('data', (bytes) => pass(decoders[1], bytes, false));
    child.on('error', (error) => {
      write(`${command}: ${error.message}\r\n`);
      resolve(undefined);
    });
    // 'close' comes after the last output, unlike 'exit'.
    child.on('close', (code, signal) => {
      pass(decoders[0], undefined, true);
      pass(decoders[1], undefined, true);
      resolve(code === null ? (signal ? 1 : undefined) : code);
    });
  });
}

module.exports = { kTasks, converterArguments, converterEnvironment, outputEncoding, runConverter };

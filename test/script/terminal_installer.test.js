'use strict';
// The terminal installer (scripts/demo.sh): --yes with its output to a file (plain; node.exe
// under Wine cannot write to a pipe), and in a terminal, where Ctrl+C cancels the install.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { packages } = require('./addon_paths');

const mainScript = path.join(__dirname, '..', '..', 'examples', 'terminal-installer', 'main.js');
const underWindows = process.platform === 'win32';
// A process the installer started (the product, Wine's services) may hold a file a moment longer.
const removal = { recursive: true, force: true, maxRetries: 20, retryDelay: 250 };

// Runs `body(home)` with a temporary INSTALLER_VESK_HOME.
async function withHome(body) {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), 'installer-terminal-home-'));
  try { await body(home); } finally { fs.rmSync(home, removal); }
}

// Runs the installer with its output going to a file; gives its exit code and output.
function runInstaller(args, home) {
  const outputFile = path.join(home, 'output.txt');
  const output = fs.openSync(outputFile, 'w');
  const child = spawn(process.execPath, [mainScript, ...args],
    { stdio: ['ignore', output, output], env: { ...process.env, INSTALLER_VESK_HOME: home } });
  fs.closeSync(output);
  return new Promise((resolve, reject) => {
    child.on('error', reject);
    child.on('exit', (code) => resolve({ code, text: fs.readFileSync(outputFile, 'utf8') }));
  });
}

// The folder the installer names for its logs; the folder holding it is removed afterwards.
function logsFolder(text) {
  const match = /^Logs: (.+)$/m.exec(text);
  assert.ok(match, 'the installer names its log folder');
  return match[1].trim();
}

// Nothing left in the product's folder of the engine's drive (Linux).
function assertNothingLeft(home, ...folder) {
  const target = path.join(home, 'drive', 'Program Files', ...folder);
  assert.ok(!fs.existsSync(target) || fs.readdirSync(target).length === 0, `nothing left in ${target}`);
}

test('--yes installs the sample product, starts it and removes it again', { timeout: 300000 }, () => withHome(async (home) => {
  const { code, text } = await runInstaller(['--yes'], home);
  assert.equal(code, 0, text);
  assert.doesNotMatch(text, /\x1b/, 'plain output when stdout is not a terminal');
  for (const expected of [
    /^Wren Tasks 1\.0\.0$/m,
    /product code:\s+\{6F1D2C3B-8A47-4E59-B0C1-D2E3F4A5B607\}/,
    /package code \{7A2B3C4D-5E6F-4A70-8B91-C2D3E4F5A6B7\}/,
    /edition:\s+home/,
    /install directory:\s+.*Wren Labs[\\/]Wren Tasks/,
    /- Wren Tasks \(Core\), level 1$/m,
    /- Task templates \(Templates\), level 1; level 0 when EDITION = "lite"$/m,
    /setup type:\s+new install/,
    /conflicting:\s+none/,
    /preinstall: success \(0\)/,
    /^ {2}install +\d+% {2}\S/m,
    /install: success \(0\)/,
    /startProduct: 0, the product says: Wren Tasks started in .*Wren Tasks/,
    /machine identifier: [0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$/m,
    /removal: success \(0\)/,
    /Wren Tasks is no longer installed/,
  ]) assert.match(text, expected);

  // application.run moved both logs into the /log folder.
  const logs = logsFolder(text);
  const names = fs.readdirSync(logs);
  const traceLog = names.find((name) => name.endsWith('.INST.log'));
  assert.ok(traceLog && names.some((name) => name.endsWith('.MSI.log')), `both logs are in ${logs}: ${names}`);
  assert.match(fs.readFileSync(path.join(logs, traceLog), 'utf8'), /\tbl\tApplication run/);
  fs.rmSync(path.dirname(logs), removal);
  if (!underWindows) assertNothingLeft(home, 'Wren Labs');
}));

// In a pseudo-terminal of script(1): the progress bar, and a Ctrl+C the terminal turns into
// SIGINT for the foreground process group. Windows consoles under Wine have neither.
test('in a terminal, Ctrl+C during the install cancels it with 1602 and leaves nothing installed', {
  timeout: 300000,
  skip: (underWindows && 'no terminal to type Ctrl+C into under Wine') ||
    // Preloaded into every program of the chain, the sanitizer runtime changes its exit status.
    (/libasan/.test(process.env.LD_PRELOAD || '') && 'the terminal chain runs with the sanitizer runtime'),
}, () => withHome(async (home) => {
  const command = [process.execPath, mainScript, '--yes', '--package', path.join(packages, 'bulk.msi')]
    .map((word) => `'${word}'`).join(' ');
  const terminal = spawn('script', ['-qefc', command, '/dev/null'],
    { stdio: ['pipe', 'pipe', 'inherit'], env: { ...process.env, INSTALLER_VESK_HOME: home } });
  let text = '', typed = false;
  terminal.stdout.on('data', (data) => {
    text += data;
    if (!typed && / {2}install \[[#.]+\] +\d+%/.test(text)) {
      typed = true;
      terminal.stdin.write('\x03');
    }
  });
  const code = await new Promise((resolve) => terminal.on('exit', resolve));
  terminal.stdin.destroy();
  assert.ok(typed, `the install showed its progress bar:\n${text}`);
  assert.equal(code, 130, text);
  for (const expected of [/\x1b\[1mInstalling Bulk Notes \(Ctrl\+C cancels\)/, /cancelling the install/,
    /install: cancelled by the user \(1602\)/, /nothing installed: the machine is as it was/]) {
    assert.match(text, expected);
  }
  assert.doesNotMatch(text, /^Removing/m);
  fs.rmSync(path.dirname(logsFolder(text)), removal);
  assertNothingLeft(home, 'Kestrel', 'Bulk Notes');
}));

test('usage errors and a missing package stop before anything starts', () => withHome(async (home) => {
  for (const [args, status, message] of [
    [['--bogus'], 2, /unknown argument --bogus\nusage: /],
    [['--package', path.join(os.tmpdir(), 'no-such-package.msi')], 1, /the package .*no-such-package\.msi is missing/],
  ]) {
    const { code, text } = await runInstaller(args, home);
    assert.equal(code, status, text);
    assert.match(text, message);
    assert.doesNotMatch(text, /bootstrapper:/);
  }
}));

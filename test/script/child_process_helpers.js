'use strict';
// Runs a script in a fresh process (the tracer and the class objects are
// per-process) inside its own temporary directory. The child reports through
// files, not pipes: node.exe under Wine cannot write to a pipe.
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { bootstrapper } = require('./addon_paths');

const EOL = process.platform === 'win32' ? '\r\n' : '\n';
// A process the child started may hold a file of its folder a moment longer.
const removal = { recursive: true, force: true, maxRetries: 20, retryDelay: 250 };

// options: execPath (the host, default this node); env (added; INSTALLER_VESK_HOME is
// <dir>/home unless given); prepare(dir); timeout (ms, 60000); bootstrapper: { packageFile,
// args } has the bootstrapper start the child, `args` before "--" (or a function of the
// command line's length giving them). Gives report, logs, read(name), output, commandLine.
function runInFreshProcess(addonPath, body, options = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'installer-test-'));
  const script = path.join(dir, 'child.js');
  fs.writeFileSync(script, ["'use strict';", "const fs = require('node:fs');",
    `const addon = require(${JSON.stringify(addonPath)});`, 'const report = {};',
    "process.on('exit', () => fs.writeFileSync('report.json', JSON.stringify(report)));", body].join('\n'));
  if (options.prepare) options.prepare(dir);
  let command = [options.execPath || process.execPath, script];
  if (options.bootstrapper) {
    const { packageFile, args = [] } = options.bootstrapper;
    const before = [bootstrapper, '--package', packageFile, '--dir', dir];
    const extra = typeof args === 'function' ? args([...before, '--', ...command].join(' ').length) : args;
    command = [...before, ...extra, '--', ...command];
  }
  // The bootstrapper's output goes to a file. A plain child's is ignored: under
  // Wine a process that msi.dll leaves behind would keep the file open.
  const output = options.bootstrapper ? fs.openSync(path.join(dir, 'output.txt'), 'w') : 'ignore';
  const result = spawnSync(command[0], command.slice(1), {
    cwd: dir, stdio: ['ignore', output, output], timeout: options.timeout || 60000,
    env: { ...process.env, INSTALLER_VESK_HOME: path.join(dir, 'home'), ...options.env },
  });
  if (options.bootstrapper) fs.closeSync(output);
  const said = options.bootstrapper ? fs.readFileSync(path.join(dir, 'output.txt'), 'utf8') : '';
  try {
    assert.equal(result.status, 0, `${path.basename(command[0])} exited with ${result.status} ` +
      `(${result.error || result.signal}):\n${said}`);
    const report = JSON.parse(fs.readFileSync(path.join(dir, 'report.json'), 'utf8'));
    const logs = fs.readdirSync(dir).filter((name) => name.endsWith('.log') && fs.statSync(path.join(dir, name)).isFile());
    const contents = new Map(logs.map((name) => [name, fs.readFileSync(path.join(dir, name))]));
    return { report, logs, read: (name) => contents.get(name), output: said, commandLine: command.join(' ') };
  } finally {
    fs.rmSync(dir, removal);
  }
}

// The records of an INST log, without their "HH:MM:SS<tab>" stamps, which it
// checks, as it checks the line ends.
function records(buffer) {
  const text = buffer.toString('utf8');
  assert.ok(text.endsWith(EOL), 'the log ends with a line end');
  if (EOL === '\n') assert.ok(!text.includes('\r'));
  const lines = text.slice(0, -EOL.length).split(EOL);
  for (const line of lines) assert.match(line, /^\d\d:\d\d:\d\d\t/);
  return lines.map((line) => line.slice(9));
}

// Copies this node into `dir` as the host (electron.exe under Windows, as the real one) and gives its path.
function copyHost(dir) {
  const host = path.join(dir, process.platform === 'win32' ? 'electron.exe' : path.basename(process.execPath));
  fs.copyFileSync(process.execPath, host);
  return host;
}

module.exports = { EOL, runInFreshProcess, records, copyHost };

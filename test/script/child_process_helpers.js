'use strict';
// Runs a script in a fresh process (the tracer and the class objects are
// per-process) inside its own temporary directory. The child reports through
// files, not pipes: node.exe under Wine cannot write to a pipe.
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

// options: execPath, the host to run (default: this node); env, variables added
// to ours; prepare(dir), called with the child's directory before it starts;
// timeout in milliseconds (default 60000).
function runInFreshProcess(addonPath, body, options = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'installer-test-'));
  const script = path.join(dir, 'child.js');
  fs.writeFileSync(script, [
    "'use strict';",
    "const fs = require('node:fs');",
    `const addon = require(${JSON.stringify(addonPath)});`,
    'const report = {};',
    "process.on('exit', () => fs.writeFileSync('report.json', JSON.stringify(report)));",
    body,
  ].join('\n'));
  if (options.prepare) options.prepare(dir);
  const result = spawnSync(options.execPath || process.execPath, [script], {
    cwd: dir, stdio: 'ignore', timeout: options.timeout || 60000, env: { ...process.env, ...options.env },
  });
  if (result.status !== 0) throw new Error(`child exited with ${result.status} (${result.error || result.signal})`);
  const report = JSON.parse(fs.readFileSync(path.join(dir, 'report.json'), 'utf8'));
  const logs = fs.readdirSync(dir).filter((name) => name.endsWith('.log'));
  const contents = new Map(logs.filter((name) => fs.statSync(path.join(dir, name)).isFile())
    .map((name) => [name, fs.readFileSync(path.join(dir, name))]));
  fs.rmSync(dir, { recursive: true, force: true });
  return { report, logs, read: (name) => contents.get(name) };
}

// Copies this node into `dir` as the host executable (named electron.exe under
// Windows, as the real host is) and returns its path. The package object reads
// the package beside the host.
function copyHost(dir) {
  const host = path.join(dir, process.platform === 'win32' ? 'electron.exe' : path.basename(process.execPath));
  fs.copyFileSync(process.execPath, host);
  return host;
}

module.exports = { runInFreshProcess, copyHost };

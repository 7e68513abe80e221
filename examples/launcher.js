'use strict';
// Starts an installer user interface the way the product's setup program does:
// the bootstrapper program (tools/bootstrapper) fills a folder with the package
// and a copy of this host executable (named electron.exe on Windows, as the real
// host is) and starts the interface's script under that copy, so that the package
// lies beside the executable. The bootstrapper also gets /log <folder>, which the
// interface's application.run() reads. Used by the terminal installer and the
// reference installer page.
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const root = path.join(__dirname, '..');
const underWindows = process.platform === 'win32';
const buildDir = process.env.INSTALLER_BUILD_DIR || path.join(root, 'build', `${process.platform}-${process.arch}`);
const bootstrapper = path.join(buildDir, 'tools', 'bootstrapper', underWindows ? 'bootstrapper.exe' : 'bootstrapper');
const samplePackage = path.join(buildDir, 'examples', 'sample-product', 'wren_tasks.msi');
const hostName = underWindows ? 'electron.exe' : path.basename(process.execPath);

// The reason the interface cannot be started, or null.
function missingPiece(packageFile) {
  if (!fs.existsSync(bootstrapper)) return `the bootstrapper ${bootstrapper} is missing: build it with scripts/build.sh`;
  if (!fs.existsSync(packageFile)) {
    return `the package ${packageFile} is missing` + (packageFile === samplePackage ? ': build it with scripts/build.sh' : '');
  }
  return null;
}

// Starts `script` with `args` under the bootstrapper. External cabinets (*.cab)
// lying beside the package go along. The installer's state goes to a temporary
// INSTALLER_VESK_HOME unless one is set. Returns the child process and `finish()`,
// which removes the temporary folders but the logs (and the state, with keepState)
// and returns what to tell the user.
function startUnderBootstrapper({ script, args = [], packageFile = samplePackage, keepState = false, stdio = 'inherit' }) {
  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'installer-demo-'));
  const folders = { work, ui: path.join(work, 'ui'), logs: path.join(work, 'logs'), home: path.join(work, 'home') };
  fs.mkdirSync(folders.ui);
  fs.mkdirSync(folders.logs);
  const packageDir = path.dirname(packageFile);
  for (const name of fs.readdirSync(packageDir)) {
    if (name.toLowerCase().endsWith('.cab')) fs.copyFileSync(path.join(packageDir, name), path.join(folders.ui, name));
  }
  const ownState = !process.env.INSTALLER_VESK_HOME;
  const env = {
    ...process.env,
    INSTALLER_VESK_HOME: process.env.INSTALLER_VESK_HOME || folders.home,
    // The sample product's program says where it started in this file.
    SAMPLE_PRODUCT_STARTED: process.env.SAMPLE_PRODUCT_STARTED || path.join(work, 'started.txt'),
  };
  // /log gets the folder with its trailing separator, so that it is joined to the
  // log names as it is on either platform.
  const child = spawn(bootstrapper,
    ['--package', packageFile, '--dir', folders.ui, '--host', hostName, '/log', folders.logs + path.sep,
     '--', process.execPath, script, ...args],
    { stdio, env });

  // Windows may hold the host's copy for a moment after the process ended.
  const remove = (target, kept) => {
    try {
      fs.rmSync(target, { recursive: true, force: true, maxRetries: 10, retryDelay: 200 });
    } catch (error) {
      kept.push(`Not removed: ${target} (${error.code || error.message})`);
    }
  };
  function finish() {
    const kept = [`Logs: ${folders.logs}`];
    remove(folders.ui, kept);
    remove(path.join(work, 'started.txt'), kept);
    if (ownState && keepState) kept.push(`INSTALLER_VESK_HOME: ${folders.home}`);
    else if (ownState) remove(folders.home, kept);
    return kept.join('\n');
  }
  return { child, folders, finish };
}

// The exit status to pass on for a child's end.
function exitStatus(code, signal) {
  return code === null ? 128 + (os.constants.signals[signal] || 0) : code;
}

module.exports = { bootstrapper, samplePackage, missingPiece, startUnderBootstrapper, exitStatus };

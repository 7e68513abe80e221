'use strict';
// The terminal installer: starts the bootstrapper program with the sample product
// (or --package FILE) and /log <temporary folder>. The bootstrapper fills a folder
// with the package and a copy of this host executable (electron.exe on Windows,
// the name the real host has) and starts installer.js under that copy, so that
// the package lies beside the executable as the addon expects.
//
//   node examples/terminal-installer/main.js [--yes] [--keep] [--package FILE]
//
// The installer's state goes to a temporary INSTALLER_VESK_HOME unless one is set
// (kept with --keep, so the product can be looked at or removed later). The exit
// status is the installer's: 0 done, 1 failed, 130 cancelled with Ctrl+C.
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const usage = 'usage: main.js [--yes] [--keep] [--package FILE]\n' +
  '  --yes           ask nothing: install, start, remove\n' +
  '  --keep          leave the product installed at the end\n' +
  '  --package FILE  install FILE instead of the sample product (external cabinets\n' +
  '                  lying beside it go along)\n';

function parseArguments(argv) {
  const options = { yes: false, keep: false, package: null };
  for (let i = 0; i < argv.length; ++i) {
    const argument = argv[i];
    if (argument === '--yes') options.yes = true;
    else if (argument === '--keep') options.keep = true;
    else if (argument === '--package' && i + 1 < argv.length) options.package = path.resolve(argv[++i]);
    else if (argument === '--help' || argument === '-h') return { help: true };
    else return { error: `unknown argument ${argument}` };
  }
  return options;
}

const root = path.join(__dirname, '..', '..');
const underWindows = process.platform === 'win32';
const buildDir = process.env.INSTALLER_BUILD_DIR ||
  path.join(root, 'build', `${process.platform}-${process.arch}`);
const bootstrapper = path.join(buildDir, 'tools', 'bootstrapper', underWindows ? 'bootstrapper.exe' : 'bootstrapper');
const samplePackage = path.join(buildDir, 'examples', 'sample-product', 'wren_tasks.msi');
const hostName = underWindows ? 'electron.exe' : path.basename(process.execPath);

function main() {
  const options = parseArguments(process.argv.slice(2));
  if (options.help) {
    process.stdout.write(usage);
    return;
  }
  if (options.error) {
    process.stderr.write(`${options.error}\n${usage}`);
    process.exitCode = 2;
    return;
  }
  const packageFile = options.package || samplePackage;
  for (const [file, what] of [[bootstrapper, 'the bootstrapper'], [packageFile, 'the package']]) {
    if (!fs.existsSync(file)) {
      process.stderr.write(`terminal installer: ${what} ${file} is missing` +
                           (file === packageFile && options.package ? '\n' : ': build it with scripts/build.sh\n'));
      process.exitCode = 1;
      return;
    }
  }

  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'installer-demo-'));
  const folders = { ui: path.join(work, 'ui'), logs: path.join(work, 'logs'), home: path.join(work, 'home') };
  fs.mkdirSync(folders.ui);
  fs.mkdirSync(folders.logs);
  for (const name of fs.readdirSync(path.dirname(packageFile))) {
    if (name.toLowerCase().endsWith('.cab')) fs.copyFileSync(path.join(path.dirname(packageFile), name), path.join(folders.ui, name));
  }
  const ownHome = !process.env.INSTALLER_VESK_HOME;
  const env = {
    ...process.env,
    INSTALLER_VESK_HOME: process.env.INSTALLER_VESK_HOME || folders.home,
    SAMPLE_PRODUCT_STARTED: path.join(work, 'started.txt'),
  };
  const flags = [options.yes && '--yes', options.keep && '--keep'].filter(Boolean);
  const child = spawn(bootstrapper,
    ['--package', packageFile, '--dir', folders.ui, '--host', hostName, '/log', folders.logs,
     '--', process.execPath, path.join(__dirname, 'installer.js'), ...flags],
    { stdio: 'inherit', env });

  // Ctrl+C reaches every process of the terminal's foreground group: the
  // installer handles it; this process waits for it.
  const ignore = () => {};
  process.on('SIGINT', ignore);
  child.on('error', (error) => {
    process.stderr.write(`terminal installer: cannot start ${bootstrapper}: ${error.message}\n`);
    process.exitCode = 1;
  });
  child.on('exit', (code, signal) => {
    process.removeListener('SIGINT', ignore);
    fs.rmSync(folders.ui, { recursive: true, force: true });
    fs.rmSync(path.join(work, 'started.txt'), { force: true });
    if (ownHome && !options.keep) fs.rmSync(folders.home, { recursive: true, force: true });
    process.stdout.write(`Logs: ${folders.logs}` +
                         (ownHome && options.keep ? `\nINSTALLER_VESK_HOME: ${folders.home}` : '') + '\n');
    process.exitCode = code === null ? 128 + (os.constants.signals[signal] || 0) : code;
  });
}

main();

'use strict';
// The terminal installer: starts installer.js under the bootstrapper program with
// the sample product (or --package FILE) and /log <temporary folder> (see
// ../launcher.js).
//
//   node examples/terminal-installer/main.js [--yes] [--keep] [--package FILE]
//
// The installer's state goes to a temporary INSTALLER_VESK_HOME unless one is set
// (kept with --keep, so the product can be looked at or removed later). The exit
// status is the installer's: 0 done, 1 failed, 130 cancelled with Ctrl+C.
const path = require('node:path');
const { exitStatus, missingPiece, samplePackage, startUnderBootstrapper } = require('../launcher');

const usage = 'usage: main.js [--yes] [--keep] [--package FILE]\n' +
  '  --yes           ask nothing: install, start, remove\n' +
  '  --keep          leave the product installed at the end\n' +
  '  --package FILE  install FILE instead of the sample product (external cabinets\n' +
  '                  lying beside it go along)\n';

function parseArguments(argv) {
  const options = { yes: false, keep: false, package: samplePackage };
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
  const missing = missingPiece(options.package);
  if (missing) {
    process.stderr.write(`terminal installer: ${missing}\n`);
    process.exitCode = 1;
    return;
  }

  const run = startUnderBootstrapper({
    script: path.join(__dirname, 'installer.js'),
    args: [options.yes && '--yes', options.keep && '--keep'].filter(Boolean),
    packageFile: options.package,
    keepState: options.keep,
  });
  // Ctrl+C reaches every process of the terminal's foreground group: the
  // installer handles it; this process waits for it.
  const ignore = () => {};
  process.on('SIGINT', ignore);
  run.child.on('error', (error) => {
    process.stderr.write(`terminal installer: cannot start the bootstrapper: ${error.message}\n`);
    process.exitCode = 1;
  });
  run.child.on('exit', (code, signal) => {
    process.removeListener('SIGINT', ignore);
    process.stdout.write(`${run.finish()}\n`);
    process.exitCode = exitStatus(code, signal);
  });
}

main();

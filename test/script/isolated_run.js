'use strict';
// For the tools that call every method (fuzzer, stress, soak): the process
// works in a temporary folder of its own, with its own INSTALLER_VESK_HOME and
// a harmless restart command, set before any addon is loaded. Nothing they
// call can then write outside that folder. And their command-line options.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

function isolate(prefix) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  process.env.INSTALLER_VESK_HOME = path.join(dir, 'home');
  process.env.INSTALLER_VESK_REBOOT_COMMAND = 'true';
  process.chdir(dir);
  return {
    dir,
    cleanUp() {
      process.chdir(os.tmpdir());
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

// The value given as --name on the command line, a number if `fallback` is one.
function option(name, fallback) {
  const index = process.argv.indexOf(`--${name}`);
  if (index < 0) return fallback;
  return typeof fallback === 'number' ? Number(process.argv[index + 1]) : process.argv[index + 1];
}

module.exports = { isolate, option };

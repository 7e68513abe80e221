'use strict';
// Loads the addon built for the running platform. When none loads, the error
// lists every place tried and why, with the command that builds it.
const path = require('node:path');

const candidates = [
  process.env.INSTALLER_VESK_ADDON,
  path.join(__dirname, 'build', `${process.platform}-${process.arch}`, 'installer_vesk.node'),
].filter(Boolean);

function load() {
  const failures = [];
  for (const candidate of candidates) {
    try {
      return require(candidate);
    } catch (error) {
      failures.push(`  ${candidate}: ${error.message.split('\n')[0]}`);
    }
  }
  const lane = process.platform === 'win32' ? (process.arch === 'ia32' ? 'win32' : 'win64') : 'linux';
  throw new Error(
    `installer_vesk: no build for ${process.platform}-${process.arch} could be loaded.\n` +
    `Tried:\n${failures.join('\n')}\n` +
    `Build it with: scripts/setup.sh && scripts/build.sh ${lane}`);
}

module.exports = load();

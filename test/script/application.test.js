'use strict';
// The application object with the real bootstrapper: run() takes the /log
// directory from the bootstrapper's command line, so both logs go there, also
// after a second run(); join() ends the user interface.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { buildDir, installerAddon } = require('./addon_paths');

const underWindows = process.platform === 'win32';
const bootstrapper = path.join(buildDir, 'tools', 'bootstrapper', underWindows ? 'bootstrapper.exe' : 'bootstrapper');
const packages = path.join(buildDir, 'test', 'packages');

const userInterface = `'use strict';
const fs = require('node:fs');
const addon = require(${JSON.stringify(installerAddon)});
const report = {};
const save = () => fs.writeFileSync('report.json', JSON.stringify(report));
const application = addon.query('application');
const controller = addon.query('tracer_controller');
const tracer = addon.query('trace_helper');
(async () => {
  report.run = application.run();
  const open = {};
  controller.getTraceState(open, {});
  report.openAfterRun = open.value;
  tracer.trace('after the first run', 700);
  report.secondRun = await new Promise((resolve) => { report.asyncReturn = application.run(resolve); });
  // Reopened under its name, which a second run must not have nested in its directory again.
  controller.turnOffTraces();
  report.reopened = controller.turnOnTraces();
  tracer.trace('after reopening', 700);
  // Made after run(): the Windows Installer log goes to the same directory.
  const setup = addon.query('msi_setup_manager');
  report.preinstall = await new Promise((resolve) => setup.runPreinstallTask('', { progressChanged() {}, completed: resolve }));
  report.join = [application.join(), application.join()];
  save();
})().catch((error) => { report.error = String(error && error.stack); save(); });
`;

test('run() puts both logs in the /log directory, a second run() too; join()', { timeout: 120000 }, () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'installer-app-'));
  const logs = path.join(dir, 'trace logs');  // quoted on the command line
  try {
    fs.mkdirSync(logs);
    fs.writeFileSync(path.join(dir, 'ui.js'), userInterface);
    const result = spawnSync(bootstrapper,
      ['--package', path.join(packages, 'osprey_1_9.msi'), '--dir', dir, '/quiet', '/log', logs, '--',
        process.execPath, path.join(dir, 'ui.js')],
      { cwd: dir, stdio: 'ignore', timeout: 110000, env: { ...process.env, INSTALLER_VESK_HOME: path.join(dir, 'home') } });
    assert.equal(result.status, 0, `bootstrapper exited with ${result.status} (${result.error || result.signal})`);
    const report = JSON.parse(fs.readFileSync(path.join(dir, 'report.json'), 'utf8'));
    assert.equal(report.error, undefined);
    assert.equal(report.run, true);
    assert.equal(report.openAfterRun, true, 'run() opens the log');
    assert.equal(report.asyncReturn, undefined);
    assert.equal(report.secondRun, true);
    assert.equal(report.reopened, 0);
    assert.equal(report.preinstall, 0);
    assert.deepEqual(report.join, [true, true]);

    assert.deepEqual(fs.readdirSync(dir).filter((name) => name.endsWith('.log')), [], 'no log in the current directory');
    const written = fs.readdirSync(logs);
    const installerLog = written.filter((name) => name.endsWith('.INST.log'));
    assert.equal(installerLog.length, 1, `one installer log, got ${written}`);
    assert.ok(written.some((name) => name.endsWith('.MSI.log')), `the Windows Installer log, got ${written}`);
    const records = fs.readFileSync(path.join(logs, installerLog[0]), 'utf8').split(/\r?\n/)
      .map((line) => line.slice(9));
    const position = (record) => records.indexOf(record);
    const order = ['bl\tApplication run', 'after the first run', 'after reopening', 'bl\tRun preinstall',
      'bl\tApplication join', 'tracer closed'].map(position);
    assert.ok(order.every((at, i) => at >= 0 && (i === 0 || at > order[i - 1])), `records in order: ${records}`);
    assert.equal(records.filter((record) => record === 'bl\tApplication run').length, 2);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

'use strict';
// The installer controller from script, each scenario in a fresh process; the
// bootstrapper's side is the real bootstrapper program (tools/bootstrapper).
const { suite, test } = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { installerAddon, packages } = require('./addon_paths');
const { records, runInFreshProcess } = require('./child_process_helpers');

const underWindows = process.platform === 'win32';
const commandLineRoom = 1023;  // UTF-16 units the bootstrapper's block holds
const traceAll = `
  const tracer = addon.query('tracer_controller');
  tracer.turnOnTraces();
  tracer.setTraceLevel(1000);
  const controller = addon.query('installer_controller');`;

const run = (body, options) => runInFreshProcess(installerAddon, traceAll + body, options);
// Under the bootstrapper, whose command line an option /Xxxx... pads to `length` characters.
const runUnderBootstrapper = (body, length) => run(body, {
  bootstrapper: { packageFile: path.join(packages, 'bulk.msi'), args: (rest) => ['/X' + 'x'.repeat(length - rest - 3)] },
});

suite('installer_controller from script', () => {
  test('the version text is the system version, computed once', () => {
    const { report, logs, read } = run(`
      report.release = require('node:os').release();
      report.texts = [];
      for (let i = 0; i < 4; ++i) {
        controller.getWindowsVersionProperty((text) => {
          report.texts.push(text);
          if (report.texts.length === 4) report.texts.push(controller.getWindowsVersionProperty());
        });
      }
    `);
    const [text] = report.texts;
    assert.deepEqual(report.texts, Array(5).fill(text));
    const match = /^osMajorVer=(\d+) osMinorVer=(\d+) osBuildNumber=(\d+) osServicePackNumber=\d+ osEdition=\d+ osProductType=\d+$/
      .exec(text);
    assert.ok(match, text);
    assert.equal(match.slice(1).join('.'), /^\d+\.\d+\.\d+/.exec(report.release)[0], `${text} on ${report.release}`);
    assert.deepEqual(records(read(logs[0])).filter((record) => record.includes('osMajorVer')), [`bl\t${text}`]);
  });

  test('without a bootstrapper: no splash screen to hide, an empty command line', () => {
    const { report, logs, read } = run(`
      report.hidden = controller.hideSplashScreen();
      report.commandLine = controller.getCommandLine();
    `);
    assert.deepEqual(report, { hidden: 0, commandLine: '' });
    // The open failed with ERROR_FILE_NOT_FOUND; the command line is a record of its own.
    assert.deepEqual(records(read(logs[0])), ['bl\t2', 'bl\tHide splash screen', '', 'tracer closed']);
  });

  test('with the bootstrapper: its command line cut to 1,023 characters, and the splash screen hidden', () => {
    const { report, logs, read, output, commandLine } = runUnderBootstrapper(`
      report.commandLine = controller.getCommandLine();
      report.hidden = controller.hideSplashScreen();
      controller.getCommandLine((text) => { report.later = text; });
    `, commandLineRoom + 77);
    assert.equal(commandLine.length, commandLineRoom + 77);
    const seen = commandLine.slice(0, commandLineRoom);
    assert.deepEqual(report, { commandLine: seen, hidden: 0, later: seen });
    const inst = logs.find((name) => name.endsWith('.INST.log'));
    assert.deepEqual(records(read(inst)).filter((record) => !record.startsWith('bl\tMsi')),
      [seen, 'bl\t0', 'bl\tSet gui event1', 'bl\tHide splash screen', seen, 'tracer closed']);
    assert.match(output, /bootstrapper: splash screen hidden/);
  });

  // Under Wine, ExitWindowsEx would end every process of the prefix, the test runner included.
  test('reboot runs the configured command instead, or reports 50', { skip: underWindows }, () => {
    const { report, logs, read } = run(`
      process.env.INSTALLER_VESK_REBOOT_COMMAND = 'echo rebooted > marker.txt';
      report.ran = controller.reboot();
      report.marker = fs.readFileSync('marker.txt', 'utf8');
      process.env.INSTALLER_VESK_REBOOT_COMMAND = 'exit 4';
      report.failed = controller.reboot();
      process.env.INSTALLER_VESK_REBOOT_COMMAND = 'kill -9 $$';
      report.killed = controller.reboot();
      process.env.INSTALLER_VESK_REBOOT_COMMAND = '';
      report.empty = controller.reboot();
      delete process.env.INSTALLER_VESK_REBOOT_COMMAND;
      report.unsupported = controller.reboot();
    `);
    assert.deepEqual(report, { ran: 0, marker: 'rebooted\n', failed: 31, killed: 31, empty: 50, unsupported: 50 });
    assert.deepEqual(records(read(logs[0])),
      [...Array(2).fill('bl\tReboot is not supported here: 50'), 'tracer closed']);
  });
});

'use strict';
// The installer controller from script, each scenario in a fresh process. The
// bootstrapper's side is the real bootstrapper program (tools/bootstrapper), which
// starts the user-interface script as in the main flow.
const { suite, test } = require('node:test');
const assert = require('node:assert/strict');
const { spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { buildDir, installerAddon } = require('./addon_paths');
const { runInFreshProcess } = require('./child_process_helpers');

const underWindows = process.platform === 'win32';
const EOL = underWindows ? '\r\n' : '\n';
const bootstrapper = path.join(buildDir, 'tools', 'bootstrapper', underWindows ? 'bootstrapper.exe' : 'bootstrapper');
const anyPackage = path.join(buildDir, 'test', 'packages', 'bulk.msi');
const identifierShape = /^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$/;
const commandLineRoom = 1023;  // UTF-16 units the bootstrapper's block holds

// The records of an INST log, without their time stamps.
const records = (buffer) => buffer.toString('utf8').split(EOL).slice(0, -1).map((line) => line.slice(9));
const traceAll = `
  const tracer = addon.query('tracer_controller');
  tracer.turnOnTraces();
  tracer.setTraceLevel(1000);
  const controller = addon.query('installer_controller');`;

// Runs `body` as the user interface that the bootstrapper starts in its folder, with a
// bootstrapper command line of `commandLineLength` characters. Gives the report, the
// log's records, what the bootstrapper said, and the command line it was given.
function runUnderBootstrapper(body, commandLineLength) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'installer-controller-'));
  try {
    fs.writeFileSync(path.join(dir, 'ui.js'), [
      "'use strict';",
      "const fs = require('node:fs');",
      `const addon = require(${JSON.stringify(installerAddon)});`,
      'const report = {};',
      "process.on('exit', () => fs.writeFileSync('report.json', JSON.stringify(report)));",
      traceAll,
      body,
    ].join('\n'));
    const args = ['--package', anyPackage, '--dir', path.join(dir, 'ui'), '/X', '--', process.execPath,
      path.join(dir, 'ui.js')];
    // The bootstrapper passes on its own command line; the option /X... pads it.
    const unpadded = [bootstrapper, ...args].join(' ').length;
    args[4] = '/X' + 'x'.repeat(commandLineLength - unpadded);
    const commandLine = [bootstrapper, ...args].join(' ');
    assert.equal(commandLine.length, commandLineLength);
    assert.ok(!/[\s"]/.test(args.join('') + bootstrapper), 'arguments that need no quotes');

    const output = fs.openSync(path.join(dir, 'bootstrapper.txt'), 'w');
    const result = spawnSync(bootstrapper, args, { cwd: dir, stdio: ['ignore', output, output], timeout: 60000 });
    fs.closeSync(output);
    assert.equal(result.status, 0, `bootstrapper exited with ${result.status} (${result.error || result.signal})`);
    const uiDir = path.join(dir, 'ui');
    const log = fs.readdirSync(uiDir).find((name) => name.endsWith('.INST.log'));
    return {
      report: JSON.parse(fs.readFileSync(path.join(uiDir, 'report.json'), 'utf8')),
      records: records(fs.readFileSync(path.join(uiDir, log))),
      said: fs.readFileSync(path.join(dir, 'bootstrapper.txt'), 'utf8'),
      commandLine,
    };
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

suite('installer_controller from script', () => {
  const run = (body) => runInFreshProcess(installerAddon, body);

  test('a cached object with the machine methods', () => {
    const { report } = run(`
      const controller = addon.query('installer_controller');
      report.same = controller === addon.query('installer_controller');
      report.methods = Object.keys(controller);
    `);
    assert.equal(report.same, true);
    assert.deepEqual(report.methods,
      ['reboot', 'startProduct', 'getCommandLine', 'getWindowsVersionProperty', 'getCurrentPath', 'fixBeta',
        'hideSplashScreen', 'getMachineId']);
  });

  test('the application folder is the host executable\'s, with one separator', () => {
    const { report } = run(`
      const controller = addon.query('installer_controller');
      report.path = controller.getCurrentPath();
      report.execPath = process.execPath;
    `);
    const separator = process.platform === 'win32' ? '\\' : '/';
    assert.ok(report.path.endsWith(separator) && !report.path.endsWith(separator + separator), report.path);
    assert.equal(report.path.toLowerCase(), report.execPath.slice(0, report.path.length).toLowerCase());
  });

  test('the version text is the system version, computed once', () => {
    const { report, logs, read } = run(`${traceAll}
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
    const { report, logs, read } = run(`${traceAll}
      report.hidden = controller.hideSplashScreen();
      report.commandLine = controller.getCommandLine();
    `);
    assert.equal(report.hidden, 0);
    assert.equal(report.commandLine, '');
    // The open failed with ERROR_FILE_NOT_FOUND; the command line is a record of its own.
    assert.deepEqual(records(read(logs[0])), ['bl\t2', 'bl\tHide splash screen', '', 'tracer closed']);
  });

  test('with the bootstrapper: its command line of 1,023 characters, and the splash screen hidden', () => {
    const { report, records: log, said, commandLine } = runUnderBootstrapper(`
      report.commandLine = controller.getCommandLine();
      report.hidden = controller.hideSplashScreen();
      controller.getCommandLine((text) => { report.later = text; });
    `, commandLineRoom);
    assert.equal(report.commandLine, commandLine);
    assert.equal(report.later, commandLine);
    assert.equal(report.hidden, 0);
    assert.deepEqual(log.filter((record) => !record.startsWith('bl\tMsi')),
      [commandLine, 'bl\t0', 'bl\tSet gui event1', 'bl\tHide splash screen', commandLine, 'tracer closed']);
    assert.match(said, /bootstrapper: splash screen hidden/);
  });

  test('a longer command line reaches the user interface cut to 1,023 characters', () => {
    const { report, commandLine } = runUnderBootstrapper(`
      report.commandLine = controller.getCommandLine();
    `, commandLineRoom + 77);
    assert.equal(report.commandLine, commandLine.slice(0, commandLineRoom));
  });

  test('the machine identifier is well formed; only a hashed one repeats', () => {
    const { report } = run(`
      const controller = addon.query('installer_controller');
      report.ids = [controller.getMachineId(), controller.getMachineId()];
      controller.getMachineId((id) => report.ids.push(id));
    `);
    const [first, second, third] = report.ids;
    for (const id of report.ids) assert.match(id, identifierShape);
    const marker = first.slice(0, 4);
    assert.ok(['FFFF', 'F1F1', 'F2F2'].includes(marker), first);
    if (marker === 'FFFF') {
      assert.deepEqual([second, third], [first, first]);
    } else {
      assert.equal(new Set(report.ids).size, 3, `${marker}: a new identifier on every call`);
    }
  });

  // Under Wine, ExitWindowsEx would end every process of the prefix, the test runner included.
  test('reboot runs the configured command instead, or reports 50', { skip: underWindows }, () => {
    const { report, logs, read } = run(`${traceAll}
      process.env.INSTALLER_VESK_REBOOT_COMMAND = 'echo rebooted > marker.txt';
      report.ran = controller.reboot();
      report.marker = fs.readFileSync('marker.txt', 'utf8');
      process.env.INSTALLER_VESK_REBOOT_COMMAND = 'exit 4';
      report.failed = controller.reboot();
      delete process.env.INSTALLER_VESK_REBOOT_COMMAND;
      report.unsupported = controller.reboot();
    `);
    assert.deepEqual([report.ran, report.marker, report.failed, report.unsupported], [0, 'rebooted\n', 31, 50]);
    assert.deepEqual(records(read(logs[0])), ['bl\tReboot is not supported here: 50', 'tracer closed']);
  });
});

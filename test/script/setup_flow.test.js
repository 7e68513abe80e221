'use strict';
// The installer's main flow as the user interface drives it: the real
// bootstrapper program extracts the package and starts a user-interface script,
// which runs the preinstall pass, a cancelled install, an install, and the
// removal through query('msi_setup_manager'). Our engine on Linux, Wine's
// msi.dll under Wine.
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
const bulkProduct = '{2B8E4F61-7C3A-4D59-A1E2-6F0B9C8D7E15}';

// The user interface: every step waits for completed(); the report goes to a file.
const userInterface = `'use strict';
const fs = require('node:fs');
const addon = require(${JSON.stringify(installerAddon)});
const report = { steps: [] };
const save = () => fs.writeFileSync('report.json', JSON.stringify(report));
addon.query('tracer_controller').turnOnTraces();
const manager = addon.query('msi_setup_manager');
report.logFlags = [1, 3, 0, 2, 4, -1].map((level) => manager.getMsiLogFlags(level));

function run(method, args, onProgress) {
  return new Promise((resolve) => {
    const step = { method, progress: [], returned: null, code: null };
    report.steps.push(step);
    const handler = {
      progressChanged(data) { step.progress.push(data.progress); if (onProgress) onProgress(data, step); },
      completed(code) { step.code = code; resolve(step); },
    };
    step.returned = manager[method](...args, handler);
  });
}

(async () => {
  await run('runPreinstallTask', ['']);
  await run('runSetupTask', [''], () => manager.cancelTask());
  await run('runSetupTask', [''], (data, step) => {
    // A start while a task runs returns at once and is refused through completed().
    if (step.refused !== undefined) return;
    step.refused = null;
    step.refusedReturned = manager.runSetupTask('', {
      progressChanged() { step.refusedProgress = true; },
      completed(code) { step.refused = code; },
    });
  });
  await run('runUninstallProduct', [${JSON.stringify(bulkProduct)}, '']);
  await run('runUninstallProduct', [${JSON.stringify(bulkProduct)}, '']);
  save();
})().catch((error) => { report.error = String(error && error.stack); save(); });
`;

test('preinstall, cancelled install, install and removal from script', { timeout: 300000 }, () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'installer-flow-'));
  try {
    fs.copyFileSync(path.join(packages, 'bulk.cab'), path.join(dir, 'bulk.cab'));
    fs.writeFileSync(path.join(dir, 'ui.js'), userInterface);
    const result = spawnSync(bootstrapper,
      ['--package', path.join(packages, 'bulk.msi'), '--dir', dir, '--', process.execPath, path.join(dir, 'ui.js')],
      { cwd: dir, stdio: 'ignore', timeout: 280000, env: { ...process.env, INSTALLER_VESK_HOME: path.join(dir, 'home') } });
    assert.equal(result.status, 0, `bootstrapper exited with ${result.status} (${result.error || result.signal})`);
    const report = JSON.parse(fs.readFileSync(path.join(dir, 'report.json'), 'utf8'));
    assert.equal(report.error, undefined);
    const [preinstall, cancelled, install, removal, again] = report.steps;

    assert.deepEqual(report.logFlags, [16386, 8159, 5120, 5120, 5120, 5120]);
    for (const step of report.steps) assert.equal(step.returned, 0, step.method);
    assert.equal(preinstall.code, 0);
    assert.ok(cancelled.progress.length >= 1, 'the cancelled install reported progress');
    // Wine's msi.dll ignores IDCANCEL on the messages the setup engine passes
    // on: there the install completes, and the next one reinstalls.
    assert.equal(cancelled.code, underWindows ? 0 : 1602);
    assert.equal(install.code, 0);
    assert.ok(install.progress.length >= 1, 'the install reported progress');
    assert.ok(install.progress.every((value) => value >= 0 && value <= 100));
    assert.equal(install.refusedReturned, 0);
    assert.equal(install.refused, 1618);
    assert.equal(install.refusedProgress, undefined);
    assert.equal(removal.code, 0);
    assert.equal(again.code, 1605, 'the product is gone');

    const log = fs.readdirSync(dir).find((name) => name.endsWith('.INST.log'));
    const text = fs.readFileSync(path.join(dir, log), 'utf8');
    assert.match(text, /\tbl\tWait extract msi/);
    assert.match(text, /\tbl\tMsi ready: 0/);
    assert.match(text, /\tbl\tRun setup/);
    assert.match(text, /\tbl\tAction result: 1605/);
    assert.ok(fs.readdirSync(dir).some((name) => name.endsWith('.MSI.log')), 'the Windows Installer log');
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

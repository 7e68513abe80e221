'use strict';
// The installer's main flow as the user interface drives it, under the real bootstrapper:
// preinstall, a cancelled install, an install and the removal (Wine's msi.dll under Wine).
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { installerAddon, packages } = require('./addon_paths');
const { runInFreshProcess } = require('./child_process_helpers');

const bulkProduct = '{2B8E4F61-7C3A-4D59-A1E2-6F0B9C8D7E15}';

// Every step waits for completed().
const userInterface = `
report.steps = [];
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
  await run('runSetupTask', ['']);
  await run('runUninstallProduct', [${JSON.stringify(bulkProduct)}, '']);
  await run('runUninstallProduct', [${JSON.stringify(bulkProduct)}, '']);
})().catch((error) => { report.error = String(error && error.stack); });
`;

test('preinstall, cancelled install, install and removal from script', { timeout: 300000 }, () => {
  const { report, logs, read } = runInFreshProcess(installerAddon, userInterface, {
    timeout: 280000,
    bootstrapper: { packageFile: path.join(packages, 'bulk.msi') },
    prepare: (dir) => fs.copyFileSync(path.join(packages, 'bulk.cab'), path.join(dir, 'bulk.cab')),
  });
  assert.equal(report.error, undefined);
  const [preinstall, cancelled, install, removal, again] = report.steps;

  assert.deepEqual(report.logFlags, [16386, 8159, 5120, 5120, 5120, 5120]);
  for (const step of report.steps) assert.equal(step.returned, 0, step.method);
  assert.ok(cancelled.progress.length >= 1, 'the cancelled install reported progress');
  // Wine's msi.dll ignores IDCANCEL on the messages the setup engine passes
  // on: there the install completes, and the next one reinstalls.
  assert.deepEqual([preinstall.code, cancelled.code, install.code, removal.code, again.code],
    [0, process.platform === 'win32' ? 0 : 1602, 0, 0, 1605], 'the last removal finds the product gone');
  assert.ok(install.progress.length >= 1, 'the install reported progress');
  assert.ok(install.progress.every((value) => value >= 0 && value <= 100));
  // A start while a task runs is refused with 1618: setup_manager_test (StartsFromAReport...).

  const text = read(logs.find((name) => name.endsWith('.INST.log'))).toString('utf8');
  for (const record of ['Wait extract msi', 'Msi ready: 0', 'Run setup', 'Action result: 1605']) {
    assert.ok(text.includes(`\tbl\t${record}`), record);
  }
  assert.ok(logs.some((name) => name.endsWith('.MSI.log')), 'the Windows Installer log');
});

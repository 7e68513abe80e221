'use strict';
// The tracing classes of the installer addon from script, each scenario in a
// fresh process (also run on the release build under Windows).
const { suite, test } = require('node:test');
const assert = require('node:assert/strict');
const { installerAddon } = require('./addon_paths');
const { records, runInFreshProcess } = require('./child_process_helpers');

suite('tracing from script', () => {
  const run = (body) => runInFreshProcess(installerAddon, body);

  test('state, levels, long records, reopening and the closing record', () => {
    const { report, logs, read } = run(`
      const controller = addon.query('tracer_controller');
      const tracer = addon.query('trace_helper');
      const state = () => { const open = {}, level = {}; controller.getTraceState(open, level); return [open.value, level.value]; };
      const debug = {};
      report.debug = [addon.query('debug_configuration').isDebug(debug), debug.value];
      report.initial = state();
      tracer.trace('before the log is open', 700);
      report.results = [controller.turnOnTraces(), controller.turnOnTraces()];
      tracer.trace('plain', 700);
      tracer.trace('too detailed', 800);
      controller.setTraceLevel(800);
      tracer.trace('detailed', 800);
      tracer.trace('long-dropped ' + 'x'.repeat(600), 700);
      controller.setTraceLevel(1000);
      tracer.trace('long-kept ' + 'y'.repeat(1500), 700);
      tracer.trace('astral 😀', 700);
      tracer.trace('', 700);
      report.results.push(controller.turnOffTraces());
      tracer.trace('while closed', 700);
      report.results.push(controller.turnOnTraces());
      tracer.trace('after reopening', 700);
      report.final = state();
    `);
    assert.deepEqual(report, { debug: [0, false], initial: [false, 700], results: [0, 0, 0, 0], final: [true, 1000] });
    assert.equal(logs.length, 1, `one log file, got ${logs}`);
    assert.match(logs[0], /^qarn_installer_\d\d\.\d\d_\d\d\.\d\d\.INST\.log$/);
    assert.deepEqual(records(read(logs[0])),
      ['plain', 'detailed', 'long-kept ' + 'y'.repeat(1500), 'astral 😀', '', 'after reopening', 'tracer closed']);
    assert.ok(read(logs[0]).includes(Buffer.from([0xf0, 0x9f, 0x98, 0x80])), 'four-byte UTF-8');
  });

  test('turnOnTraces reports a log that cannot be created', () => {
    // Directories stand where the log file would be, for this minute and the next.
    const { report, logs } = run(`
      const pad = (n) => String(n).padStart(2, '0');
      const name = (t) => 'qarn_installer_' + pad(t.getMonth() + 1) + '.' + pad(t.getDate()) + '_' +
        pad(t.getHours()) + '.' + pad(t.getMinutes()) + '.INST.log';
      const now = Date.now();
      for (const t of [now, now + 60000]) fs.mkdirSync(name(new Date(t)), { recursive: true });
      const controller = addon.query('tracer_controller');
      report.result = controller.turnOnTraces();
      const open = {};
      controller.getTraceState(open, {});
      report.open = open.value;
    `);
    assert.deepEqual(report, { result: -2147483573, open: false });
    assert.deepEqual(logs, [], 'no log file');
  });
});

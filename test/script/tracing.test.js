'use strict';
// The tracing classes from script, in a fresh process (also run on the release
// build under Windows). Levels, long records, reopening and an unopenable log
// are tested natively (trace_classes_test, tracer_test); here what script adds:
// out-parameters, strings from script, the log's real name and closing record.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { installerAddon } = require('./addon_paths');
const { records, runInFreshProcess } = require('./child_process_helpers');

test('tracing from script: state, levels, records and the closing record', () => {
  const { report, logs, read } = runInFreshProcess(installerAddon, `
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
    controller.setTraceLevel(1000);
    tracer.trace('astral 😀', 700);
    report.results.push(controller.turnOffTraces());
    tracer.trace('while closed', 700);
    report.results.push(controller.turnOnTraces());
    report.final = state();
  `);
  assert.deepEqual(report, { debug: [0, false], initial: [false, 700], results: [0, 0, 0, 0], final: [true, 1000] });
  assert.equal(logs.length, 1, `one log file, got ${logs}`);
  assert.match(logs[0], /^qarn_installer_\d\d\.\d\d_\d\d\.\d\d\.INST\.log$/);
  assert.deepEqual(records(read(logs[0])), ['plain', 'astral 😀', 'tracer closed']);
  assert.ok(read(logs[0]).includes(Buffer.from([0xf0, 0x9f, 0x98, 0x80])), 'four-byte UTF-8');
});

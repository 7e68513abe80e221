'use strict';
// The tracing classes of the installer addon, each scenario in a fresh process.
const { suite, test } = require('node:test');
const assert = require('node:assert/strict');
const { installerAddon } = require('./addon_paths');
const { runInFreshProcess } = require('./child_process_helpers');

const EOL = process.platform === 'win32' ? '\r\n' : '\n';

// Lines of an INST log; checks the "HH:MM:SS<tab>" stamp and the line ends.
function records(buffer) {
  const text = buffer.toString('utf8');
  assert.ok(text.endsWith(EOL), 'the log ends with a line end');
  const lines = text.slice(0, -EOL.length).split(EOL);
  for (const line of lines) assert.match(line, /^\d\d:\d\d:\d\d\t/);
  if (EOL === '\n') assert.ok(!text.includes('\r'));
  return lines.map((line) => line.slice(9));
}

suite('tracing from script', () => {
  const run = (body) => runInFreshProcess(installerAddon, body);

  test('classes are cached singletons without ordinary prototypes', () => {
    const { report } = run(`
      const keys = ['trace_helper', 'debug_configuration', 'tracer_controller'];
      report.same = keys.every((key) => addon.query(key) === addon.query(key));
      report.methods = keys.map((key) => Object.keys(addon.query(key)));
      report.toString = typeof addon.query('trace_helper').toString;
      report.others = ['application', 'msi_product_info', 'msi_package_info', 'installer_controller', 'no_such_class'].map((key) => { try { addon.query(key); return 'found'; } catch (e) { return e.message; } });
    `);
    assert.equal(report.same, true);
    assert.deepEqual(report.methods, [
      ['trace'], ['isDebug'], ['turnOnTraces', 'turnOffTraces', 'setTraceLevel', 'getTraceState']]);
    assert.equal(report.toString, 'undefined');
    assert.deepEqual(report.others, ['found', 'found', 'found', 'found', 'Failed to query object']);
  });

  test('state, levels, long records, reopening and the closing record', () => {
    const { report, logs, read } = run(`
      const controller = addon.query('tracer_controller');
      const tracer = addon.query('trace_helper');
      const open = {}, level = {};
      controller.getTraceState(open, level);
      report.initial = [open.value, level.value];
      tracer.trace('before the log is open', 700);
      report.on = [controller.turnOnTraces(), controller.turnOnTraces()];
      tracer.trace('plain', 700);
      tracer.trace('too detailed', 800);
      controller.setTraceLevel(800);
      tracer.trace('detailed', 800);
      tracer.trace('long-dropped ' + 'x'.repeat(600), 700);
      controller.setTraceLevel(1000);
      tracer.trace('long-kept ' + 'y'.repeat(1500), 700);
      tracer.trace('astral 😀', 700);
      tracer.trace('', 700);
      report.off = controller.turnOffTraces();
      tracer.trace('while closed', 700);
      report.onAgain = controller.turnOnTraces();
      tracer.trace('after reopening', 700);
      const open2 = {}, level2 = {};
      controller.getTraceState(open2, level2);
      report.final = [open2.value, level2.value];
    `);
    assert.deepEqual(report.initial, [false, 700]);
    assert.deepEqual(report.on, [0, 0]);
    assert.equal(report.off, 0);
    assert.equal(report.onAgain, 0);
    assert.deepEqual(report.final, [true, 1000]);

    assert.equal(logs.length, 1, `one log file, got ${logs}`);
    assert.match(logs[0], /^qarn_installer_\d\d\.\d\d_\d\d\.\d\d\.INST\.log$/);
    const lines = records(read(logs[0]));
    assert.deepEqual(lines, [
      'plain',
      'detailed',
      'long-kept ' + 'y'.repeat(1500),
      'astral 😀',
      '',
      'after reopening',
      'tracer closed',
    ]);
    assert.ok(read(logs[0]).includes(Buffer.from([0xf0, 0x9f, 0x98, 0x80])), 'four-byte UTF-8');
  });

  test('level 0 silences everything, the closing record included', () => {
    const { logs, read } = run(`
      const controller = addon.query('tracer_controller');
      controller.turnOnTraces();
      addon.query('trace_helper').trace('first', 700);
      controller.setTraceLevel(0);
      addon.query('trace_helper').trace('silenced', 1);
    `);
    assert.deepEqual(records(read(logs[0])), ['first']);
  });

  test('isDebug writes false into an empty object only, never onto a built-in', () => {
    const { report } = run(`
      const debug = addon.query('debug_configuration');
      const out = {};
      const filled = { a: 1 };
      report.results = [debug.isDebug(out), debug.isDebug(filled), debug.isDebug(true),
        debug.isDebug(Object.prototype), debug.isDebug(Math)];
      report.out = out;
      report.filled = filled;
      report.inherited = 'value' in {} || Object.hasOwn(Math, 'value');
    `);
    assert.deepEqual(report.results, [0, 0, 0, 0, 0]);
    assert.deepEqual(report.out, { value: false });
    assert.deepEqual(report.filled, { a: 1 });
    assert.equal(report.inherited, false, 'built-in objects are left alone');
  });

  test('missing arguments and bad levels are refused', () => {
    const { report } = run(`
      const attempt = (f) => { try { f(); return 'no error'; } catch (e) { return e.message; } };
      const tracer = addon.query('trace_helper');
      const controller = addon.query('tracer_controller');
      report.messages = [
        attempt(() => tracer.trace('only text')),
        attempt(() => controller.getTraceState({})),
        attempt(() => controller.setTraceLevel('800')),
        attempt(() => tracer.trace(5, 700)),
      ];
      report.boxed = controller.setTraceLevel({ value: 900 });
      const level = {};
      controller.getTraceState({}, level);
      report.level = level.value;
    `);
    assert.deepEqual(report.messages, [
      'Index is out of range',
      'Index is out of range',
      'Failed to convert to UInt32 type',
      'Failed to convert to String type',
    ]);
    assert.equal(report.boxed, 0);
    assert.equal(report.level, 900);
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
    assert.equal(report.result, -2147483573);
    assert.equal(report.open, false);
    assert.equal(logs.length, 2, 'only the two directories');
  });
});

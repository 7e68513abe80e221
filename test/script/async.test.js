'use strict';
// The asynchronous form of method calls and progress sinks, through the test-only addon.
const { suite, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const { bridgeTestAddon } = require('./addon_paths');
const { records, runInFreshProcess } = require('./child_process_helpers');

const addon = require(bridgeTestAddon);
const probe = addon.query('probe');
const gate = addon.query('gate');
const reporter = addon.query('reporter');

// Calls `method` asynchronously and resolves with the one argument of its callback.
function call(object, method, ...args) {
  return new Promise((resolve) => {
    object[method](...args, (...results) => {
      assert.equal(results.length, 1, 'a callback receives exactly one argument');
      resolve(results[0]);
    });
  });
}

async function until(condition, what) {
  for (let i = 0; i < 2000 && !condition(); ++i) await new Promise((r) => setTimeout(r, 5));
  assert.ok(condition(), `timed out waiting for ${what}`);
}

suite('asynchronous calls', () => {
  test('the callback comes once, after the call has returned', async () => {
    let returned = false;
    const values = [];
    assert.equal(probe.echoInt32(5, (value) => values.push([value, returned])), undefined);
    returned = true;
    await until(() => values.length > 0, 'the callback');
    await new Promise((r) => setTimeout(r, 50));
    assert.deepEqual(values, [[5, true]]);
  });

  test('results are converted as in a synchronous call; out-parameters are not written back', async () => {
    assert.equal(await call(probe, 'echoUInt32', 4294967295), -1);
    assert.deepEqual(await call(probe, 'grid', 1, 1), [['0:0']]);
    assert.equal((await call(probe, 'makePoint', 3, 'r')).toString, undefined);
    const out = {};
    assert.equal(await call(probe, 'doubleInt32', out), 2);
    assert.deepEqual(out, {});
    const before = probe.noArguments();
    assert.equal(await call(probe, 'noArguments'), before + 1);
  });

  test('conversion failures throw at the call and nothing is queued', async () => {
    const never = () => assert.fail('called back');
    assert.throws(() => probe.echoInt32('x', never), { message: 'Failed to convert to Int32 type' });
    assert.throws(() => probe.twoArguments(1, 2, never), { message: 'Failed to convert to String type' });
    await new Promise((r) => setTimeout(r, 50));
  });

  test('a task that throws calls back with an Error and the pool goes on', async () => {
    for (const [kind, message] of [['runtime', 'native failure text'], ['result', 'ResultCodeException']]) {
      const error = await call(probe, 'fail', kind);
      assert.ok(error instanceof Error);
      assert.equal(error.message, message);
    }
    assert.equal(await call(probe, 'echoInt32', 8), 8);
  });

  test('two calls of one method on one object run at the same time', async () => {
    assert.deepEqual(await Promise.all([call(gate, 'meet', 2), call(gate, 'meet', 2)]), [true, true]);
  });

  test('25 blocking calls: 20 run, 5 wait and start in submission order', async () => {
    gate.reset();
    const results = [];
    const all = Array.from({ length: 25 }, (_, i) => call(gate, 'pass', i).then((r) => results.push(r)));
    const sorted = (order) => order.map(Number).sort((a, b) => a - b);
    const range = (from, to) => Array.from({ length: to - from }, (_, i) => from + i);
    try {
      await until(() => gate.stats()[0] === '20', '20 running tasks');
      // Queued tasks would start at once if the cap were missing.
      await new Promise((r) => setTimeout(r, 200));
      const [running, most, order] = gate.stats();
      // The first 20 submitted are the ones running (they reach the gate in any order).
      assert.deepEqual([running, most, sorted(order.split(','))], ['20', '20', range(0, 20)]);
    } finally {
      gate.open();
    }
    await Promise.all(all);
    assert.equal(results.length, 25);
    const [, most, order] = gate.stats();
    assert.deepEqual([most, sorted(order.split(',').slice(20))], ['20', range(20, 25)]);
  });

  test('workers are reused: thousands of calls add no threads beyond the pool', async () => {
    const threads = () => (process.platform === 'linux' ? fs.readdirSync('/proc/self/task').length : 0);
    const before = threads();
    for (let round = 0; round < 10; ++round) {
      const values = await Promise.all(Array.from({ length: 300 }, (_, i) => call(probe, 'echoInt32', i)));
      assert.equal(values[299], 299);
    }
    if (process.platform === 'linux') assert.ok(threads() <= before + 20, `${threads()} threads, ${before} before`);
  });
});

suite('progress sinks', () => {
  const collect = () => {
    const events = [];
    let finish;
    const finished = new Promise((resolve) => { finish = resolve; });
    return { events, finished, sink: { progressChanged(progress) { events.push(['progress', progress, this]); },
      completed(code) { events.push(['completed', code, this]); finish(); } } };
  };

  test('reports from a worker thread arrive in order, then completed; the sink is released after', async () => {
    const before = reporter.liveObjects();
    const { events, sink, finished } = collect();
    assert.equal(reporter.reportFromThread(sink, 500), 0);
    await finished;
    await until(() => reporter.liveObjects() === before, 'the sink to be released');
    assert.deepEqual(events.map(([kind, value]) => (kind === 'progress' ? value.progress : value)),
      [...Array.from({ length: 500 }, (_, i) => i), 500]);
    const [, first, receiver] = events[0];
    assert.equal(receiver, undefined, 'the receiver is not the sink');
    assert.deepEqual(Object.entries(first), [['progress', 0], ['action', 'step 0 😀'], ['forward', true]]);
    assert.equal(events[1][1].forward, false);
  });

  test('reports made on the loop thread are delivered at once; from an asynchronous call, codes as they are', async () => {
    const here = collect();
    assert.equal(reporter.reportHere(here.sink, 2), 0);
    assert.deepEqual(here.events.map(([kind]) => kind), ['progress', 'progress', 'completed']);
    const { events, sink, finished } = collect();
    assert.equal(await call(reporter, 'completeHere', sink, -2147483573), 0);
    await finished;
    assert.deepEqual(events.map(([, code]) => code), [-2147483573]);
  });

  test('QueryInterface answers the sink interface and refuses others', () => {
    const sink = { progressChanged() {}, completed() {} };
    const ask = (iid) => {  // [result, references added]
      const [result, before, after] = reporter.queryInterface(sink, iid).map(Number);
      return [result, after - before];
    };
    assert.deepEqual([ask(0x293FDF27), ask(0), ask(0x12345678)], [[0, 1], [0, 1], [0x80000001 | 0, 0]]);
  });
});

suite('process lifetime', () => {
  const run = (body) => runInFreshProcess(bridgeTestAddon, body);

  test('a script whose calls have all called back exits by itself', () => {
    const { report } = run(`
      report.results = [];
      const probe = addon.query('probe');
      for (let i = 0; i < 30; ++i) probe.echoInt32(i, (v) => report.results.push(v));
      addon.query('reporter').reportFromThread({ progressChanged() {}, completed(c) { report.completed = c; } }, 2);
    `);
    assert.deepEqual([report.results.length, report.completed], [30, 2]);
  });

  test('process.exit() with calls in flight exits at once', () => {
    const { report } = run(`
      const gate = addon.query('gate');
      for (let i = 0; i < 25; ++i) gate.pass(i, () => {});
      setTimeout(() => { report.exiting = true; process.exit(0); }, 100);
    `);
    assert.equal(report.exiting, true);
  });

  test('a handler may report to its own sink, from the loop thread and from a worker', () => {
    const { report } = run(`
      const reporter = addon.query('reporter');
      const events = { sync: [], async: [] };
      let form = 'sync', nested = false;
      reporter.keepSink({
        progressChanged(p) {
          events[form].push(p.progress);
          if (!nested) { nested = true; reporter.reportToKept(1); }
        },
        completed(code) { events[form].push('completed ' + code); },
      });
      reporter.reportToKept(2);
      form = 'async';
      nested = false;
      reporter.reportToKept(2, () => { reporter.dropKept(); report.events = events; });
    `);
    const expected = [0, 0, 'completed 1', 1, 'completed 2'];
    assert.deepEqual(report.events, { sync: expected, async: expected });
  });

  test('reports made after their environment has gone return 0 and are traced', () => {
    const { report, logs, read } = run(`
      const { Worker } = require('node:worker_threads');
      report.tracing = addon.query('tracer_controller').turnOnTraces();
      const worker = new Worker(
        "const addon = require(" + JSON.stringify(${JSON.stringify(bridgeTestAddon)}) + ");" +
        "addon.query('reporter').reportWhenReleased({ progressChanged() {}, completed() {} }, 2);" +
        "process.exit(0);", { eval: true });
      worker.on('exit', () => {
        const reporter = addon.query('reporter');
        reporter.releaseLate();
        const poll = setInterval(() => {
          report.results = reporter.lateResults();
          if (report.results) clearInterval(poll);
        }, 10);
      });
    `);
    assert.deepEqual([report.tracing, report.results], [0, '0,0,0']);
    const lines = records(read(logs[0])).filter((record) => record.includes('Failed to send wake up event'));
    assert.equal(lines.length, 3);
    assert.match(lines[0], /^bl\tprogressChanged: Failed to send wake up event with error \d+; the report is dropped$/);
    assert.match(lines[2], /^bl\tcompleted: /);
  });

  test('a sink without completed raises an uncaught error; the native side gets 0', () => {
    const { report } = run(`
      process.on('uncaughtException', (error) => { report.uncaught = error.message; });
      addon.query('reporter').completeHere({ progressChanged() {} }, 7, (result) => { report.result = result; });
    `);
    assert.deepEqual([report.result, /completed/.test(report.uncaught)], [0, true]);
  });
});

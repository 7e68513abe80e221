'use strict';
// Bridge calls (synchronous and asynchronous) and progress delivery against bare
// Node-API baselines measured in the same run. Each round runs every variant once;
// a figure is the median over the rounds, and "spread" is the range of the
// per-round ratios, a measure of how noisy the machine was.
// Usage: node bench/async_bench.js <addon path> [rounds]
const addon = require(require('node:path').resolve(process.argv[2]));
const rounds = Number(process.argv[3] || 9);
const bench = addon.query('bench');

const now = () => Number(process.hrtime.bigint());
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

// Runs `variants` (name -> async function returning nanoseconds per unit) in
// interleaved rounds; returns name -> array of samples.
async function interleave(variants) {
  const samples = Object.fromEntries(Object.keys(variants).map((name) => [name, []]));
  for (let round = 0; round < rounds; ++round) {
    for (const [name, run] of Object.entries(variants)) samples[name].push(await run());
  }
  return samples;
}

function compare(samples, ours, baseline, unit, scale = 1) {
  const ratios = samples[ours].map((value, i) => value / samples[baseline][i]);
  const ratio = median(samples[ours]) / median(samples[baseline]);
  const figure = (name) => `${(median(samples[name]) / scale).toFixed(unit === 'ns' ? 0 : 1)} ${unit}`;
  console.log(`  ${ours} ${figure(ours)}, ${baseline} ${figure(baseline)}: ratio ${ratio.toFixed(2)}` +
    ` (per-round ratios ${Math.min(...ratios).toFixed(2)}-${Math.max(...ratios).toFixed(2)})`);
}

const syncLoop = (count, call) => async () => {
  const start = now();
  for (let i = 0; i < count; ++i) call(i);
  return (now() - start) / count;
};

const sequential = (count, once) => async () => {
  const start = now();
  for (let i = 0; i < count; ++i) await new Promise(once);
  return (now() - start) / count;
};

const reports = (count, start) => () => new Promise((resolve, reject) => {
  let received = 0;
  const begin = now();
  start(count, () => { received += 1; }, () => {
    if (received !== count) reject(new Error(`got ${received} of ${count} reports`));
    else resolve((now() - begin) / count);
  });
});

(async () => {
  const text = 'a string of 32 characters, é 😀!';
  const syncCalls = 200000;
  const sync = await interleave({
    'bridge echoInt32': syncLoop(syncCalls, (i) => bench.echoInt32(i)),
    'bare echoInt32': syncLoop(syncCalls, (i) => addon.bareEchoInt32(i)),
    'bridge echoString': syncLoop(syncCalls, () => bench.echoString(text)),
    'bare echoString': syncLoop(syncCalls, () => addon.bareEchoString(text)),
    'bridge echoWString': syncLoop(syncCalls, () => bench.echoWString(text)),
    'bare echoWString': syncLoop(syncCalls, () => addon.bareEchoWString(text)),
  });
  console.log(`synchronous call (${syncCalls} calls a round, median of ${rounds} rounds):`);
  compare(sync, 'bridge echoInt32', 'bare echoInt32', 'ns');
  compare(sync, 'bridge echoString', 'bare echoString', 'ns');
  compare(sync, 'bridge echoWString', 'bare echoWString', 'ns');

  const asyncCalls = 2000;
  const async = await interleave({
    bridge: sequential(asyncCalls, (resolve) => bench.noop(resolve)),
    AsyncWorker: sequential(asyncCalls, (resolve) => addon.asyncWorkerNoop(resolve)),
  });
  console.log(`asynchronous call round trip (${asyncCalls} sequential calls a round, median of ${rounds} rounds):`);
  compare(async, 'bridge', 'AsyncWorker', 'us', 1000);

  const count = 10000;
  const progress = await interleave({
    bridge: reports(count, (n, onReport, onDone) => {
      bench.report({ progressChanged: onReport, completed() {} }, n, () => {
        // The call returns once its last report was taken; that report may still be queued.
        setImmediate(onDone);
      });
    }),
    'waiting thread-safe function': reports(count, (n, onReport, onDone) => addon.tsfnReports(n, onReport, onDone, true)),
    'thread-safe function': reports(count, (n, onReport, onDone) => addon.tsfnReports(n, onReport, onDone, false)),
  });
  console.log(`progress delivery (${count} reports from one worker thread, median of ${rounds} rounds):`);
  compare(progress, 'bridge', 'waiting thread-safe function', 'us', 1000);
  console.log('  for information, a reporter that does not wait:');
  compare(progress, 'bridge', 'thread-safe function', 'us', 1000);
})().catch((error) => {
  console.error(error);
  process.exitCode = 1;
});

'use strict';
// Asynchronous calls and progress delivery against bare Node-API baselines,
// measured in the same run. Usage: node bench/async_bench.js <addon path>
const addon = require(process.argv[2]);
const bench = addon.query('bench');

const now = () => Number(process.hrtime.bigint()) / 1e6;

async function timeIt(runs, body) {
  const samples = [];
  for (let i = 0; i < runs; ++i) {
    const start = now();
    await body();
    samples.push(now() - start);
  }
  samples.sort((a, b) => a - b);
  return samples[Math.floor(samples.length / 2)];
}

const sequential = (count, once) => async () => {
  for (let i = 0; i < count; ++i) await new Promise(once);
};

const reports = (count, start) => () => new Promise((resolve) => {
  let received = 0;
  start(count, () => { received += 1; }, () => {
    if (received !== count) throw new Error(`got ${received} of ${count} reports`);
    resolve();
  });
});

(async () => {
  const calls = 2000;
  const bridgeCall = sequential(calls, (resolve) => bench.noop(resolve));
  const workerCall = sequential(calls, (resolve) => addon.asyncWorkerNoop(resolve));
  // Interleave the two so that both see the same machine state.
  let bridgeMs = [], workerMs = [];
  for (let round = 0; round < 7; ++round) {
    bridgeMs.push(await timeIt(1, bridgeCall));
    workerMs.push(await timeIt(1, workerCall));
  }
  const median = (values) => values.sort((a, b) => a - b)[Math.floor(values.length / 2)];
  const bridgeCallMs = median(bridgeMs), workerCallMs = median(workerMs);

  const count = 10000;
  const bridgeReports = reports(count, (n, onReport, onDone) => {
    let received = 0;
    bench.report({ progressChanged: () => { received += 1; onReport(); }, completed() {} }, n, () => {
      // The call returns after its last report was taken; the last one may still be queued.
      setImmediate(onDone);
    });
  });
  const bareReports = reports(count, (n, onReport, onDone) => addon.tsfnReports(n, onReport, onDone));
  let bridgeReportMs = [], bareReportMs = [];
  for (let round = 0; round < 7; ++round) {
    bridgeReportMs.push(await timeIt(1, bridgeReports));
    bareReportMs.push(await timeIt(1, bareReports));
  }
  const bridgeReportMedian = median(bridgeReportMs), bareReportMedian = median(bareReportMs);

  console.log(`async call round trip (${calls} sequential calls, median of 7):`);
  console.log(`  bridge ${(bridgeCallMs * 1000 / calls).toFixed(1)} us/call, AsyncWorker ${(workerCallMs * 1000 / calls).toFixed(1)} us/call`);
  console.log(`  ratio bridge/AsyncWorker: ${(bridgeCallMs / workerCallMs).toFixed(2)}`);
  console.log(`progress delivery (${count} reports from one worker thread, median of 7):`);
  console.log(`  bridge ${bridgeReportMedian.toFixed(1)} ms, bare thread-safe function ${bareReportMedian.toFixed(1)} ms`);
  console.log(`  ratio bridge/bare: ${(bridgeReportMedian / bareReportMedian).toFixed(2)}`);
})();

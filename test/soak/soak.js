'use strict';
// The soak, as the user interface under the bootstrapper (scripts/soak.sh): async
// calls of every installer method but the task starts, then install/removal
// cycles. Descriptors, threads and RSS, sampled at every tenth, may not grow past
// noise over the baseline: after an unsampled warm-up fifth for the calls.
//
//   node --expose-gc soak.js --product CODE [--calls 10000] [--cycles 100]
const fs = require('node:fs');
const { installerAddon } = require('../script/addon_paths');
const classes = require('../script/script_classes');

const totalCalls = classes.option('calls', 10000);
const warmUpCalls = Math.ceil(totalCalls / 5);
const cycles = classes.option('cycles', 100);
const product = classes.option('product', '');

const slack = { fds: 2, threads: 2, rssMiB: 8, rssShare: 0.1 };  // growth allowed over the baseline
// The bridge keeps up to 20 workers; how many the first tenth started depends on timing.
const poolWorkers = 20;
const taskStarts = new Set(['runPreinstallTask', 'runSetupTask', 'runUninstallProduct']);

const addon = require(installerAddon);
const manager = addon.query('msi_setup_manager');

function sample(phase, done) {
  global.gc();
  return { phase, done, fds: fs.readdirSync('/proc/self/fd').length, threads: fs.readdirSync('/proc/self/task').length,
    rssMiB: Math.round(process.memoryUsage().rss / 10485.76) / 100 };
}

// Lets threads that have finished their work end before a sample.
const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function callRound(targets, count, atEveryTenth) {
  const batch = 100;
  for (let done = 0; done < count;) {
    const calls = [];
    for (let i = 0; i < batch && done < count; ++i, ++done) {
      const { object, method, makeArguments } = targets[done % targets.length];
      calls.push(new Promise((resolve) => object[method](...makeArguments(), resolve)));
    }
    await Promise.all(calls);
    if (done % Math.max(1, Math.floor(count / 10)) === 0) await atEveryTenth(done);
  }
}

async function asynchronousCalls(samples) {
  const targets = classes.discoverClasses(addon, classes.installerKeys).flatMap(({ object, methods }) => methods
    .filter((name) => !taskStarts.has(name))
    .map((method) => ({ object, method, makeArguments: classes.findArguments(object, method, () => {}) })))
    .filter(({ makeArguments }) => makeArguments);
  await callRound(targets, warmUpCalls, () => {});
  await pause(100);
  samples.push(sample('calls', 0));
  await callRound(targets, totalCalls, async (done) => {
    await pause(50);
    samples.push(sample('calls', done));
  });
  return targets.length;
}

const task = (method, ...args) => new Promise((resolve) => manager[method](...args, { progressChanged() {}, completed: resolve }));

async function installCycles(samples) {
  for (let cycle = 1; cycle <= cycles; ++cycle) {
    const installed = await task('runSetupTask', '');
    const removed = await task('runUninstallProduct', product, '');
    if (installed !== 0 || removed !== 0) throw new Error(`cycle ${cycle}: install ${installed}, removal ${removed}`);
    if (cycle % (cycles / 10) === 0) {
      await pause(50);
      samples.push(sample('cycles', cycle));
    }
  }
}

// `threadCeiling`: a thread count that is never growth (the full worker pool).
function growth(samples, threadCeiling = 0) {
  const [baseline, ...later] = samples;
  const allowance = { fds: slack.fds, threads: Math.max(slack.threads, threadCeiling - baseline.threads),
    rssMiB: Math.max(slack.rssMiB, baseline.rssMiB * slack.rssShare) };
  return Object.entries(allowance).flatMap(([key, allowed]) => {
    const peak = Math.max(...later.map((s) => s[key]));
    return peak - baseline[key] > allowed ? [`${key} grew from ${baseline[key]} to ${peak} (allowed +${allowed})`] : [];
  });
}

(async () => {
  const started = Date.now();
  const start = sample('start', 0);
  const callSamples = [];
  const methods = await asynchronousCalls(callSamples);
  const callSeconds = (Date.now() - started) / 1000;
  manager.initLog('', 0);  // no Windows Installer log for the cycles
  const cycleSamples = [sample('cycles', 0)];
  await installCycles(cycleSamples);
  const cycleSeconds = (Date.now() - started) / 1000 - callSeconds;

  console.log(`soak: ${warmUpCalls} + ${totalCalls} asynchronous calls of ${methods} methods in ${callSeconds.toFixed(1)} s; ` +
    `${cycles} install/remove cycles in ${cycleSeconds.toFixed(1)} s`);
  console.log('phase   done   fds  threads  rss MiB');
  for (const s of [...callSamples, ...cycleSamples]) {
    console.log(`${s.phase.padEnd(7)} ${String(s.done).padStart(5)} ${String(s.fds).padStart(5)} ` +
      `${String(s.threads).padStart(8)} ${s.rssMiB.toFixed(1).padStart(8)}`);
  }
  const fullPool = start.threads + poolWorkers + slack.threads;
  const problems = [...growth(callSamples, fullPool), ...growth(cycleSamples.slice(1))];
  for (const problem of problems) console.log(`GROWTH: ${problem}`);
  fs.writeFileSync('soak-report.json', JSON.stringify({ callSamples, cycleSamples, problems }, null, 1));
  process.exitCode = problems.length ? 1 : 0;
})().catch((error) => {
  console.error(`soak: ${error.stack || error}`);
  process.exitCode = 1;
});

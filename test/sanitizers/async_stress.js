'use strict';
// Every method of every class both addons serve (script_classes.js), 20 async
// calls at once with sync calls meanwhile, then methods mixed. Under the thread
// sanitizer a race ends the process; a callback twice or never, or a thrown
// non-Error, fails it.
//
//   node test/sanitizers/async_stress.js [rounds]
const classes = require('../script/script_classes');

const rounds = Number(process.argv[2] || 5);
const concurrency = 20;
const deadlineMs = 300000;

const workDir = classes.isolate('installer-stress-');

let started = 0, completed = 0, doubleCallbacks = 0;
const pending = new Set();

const refuseNonError = (method, error) => {
  if (!(error instanceof Error)) throw new Error(`${method} threw a non-Error: ${String(error)}`);
};

// An asynchronous call whose callback must come exactly once.
function callOnce(object, method, args) {
  let resolve, calls = 0;
  const done = new Promise((r) => { resolve = r; });
  pending.add(done);
  started += 1;
  try {
    object[method](...args, () => {
      if (++calls > 1) { doubleCallbacks += 1; return; }
      completed += 1;
      pending.delete(done);
      resolve();
    });
  } catch (error) {
    pending.delete(done);
    started -= 1;
    refuseNonError(method, error);
  }
  return done;
}

function callSynchronously(object, method, args) {
  try { object[method](...args); } catch (error) { refuseNonError(method, error); }
}

async function settled(all) {
  const timer = setInterval(() => classes.settle(all), 20);
  const deadline = new Promise((_, reject) => setTimeout(
    () => reject(new Error(`hang: ${pending.size} callbacks missing after ${deadlineMs} ms`)), deadlineMs).unref());
  try {
    await Promise.race([Promise.all([...pending]), deadline]);
  } finally {
    clearInterval(timer);
  }
}

(async () => {
  const all = classes.discoverBothAddons();
  const targets = all.map(({ key, object, methods }) => ({ key, object, calls: methods
    .map((method) => ({ method, makeArguments: classes.findArguments(object, method, () => {}) }))
    .filter(({ makeArguments }) => makeArguments) }));
  await settled(all);

  for (let round = 0; round < rounds; ++round) {
    // One method, 20 calls at once on one object, and synchronous calls on
    // the loop thread while they run.
    for (const { key, object, calls } of targets) {
      for (const { method, makeArguments } of calls) {
        for (let i = 0; i < concurrency; ++i) callOnce(object, method, makeArguments());
        if (!classes.waitsByDesign(key, method)) {
          for (let i = 0; i < 3; ++i) callSynchronously(object, method, makeArguments());
        }
        await settled(all);
      }
    }
    // Every method of a class at once, and every class at once.
    for (const { object, calls } of targets) {
      for (let i = 0; i < concurrency; ++i) {
        const { method, makeArguments } = calls[(i + round) % calls.length] || {};
        if (method) callOnce(object, method, makeArguments());
      }
    }
    await settled(all);
  }
  await new Promise((r) => setTimeout(r, 100));  // a late second callback would show here

  const covered = targets.map(({ key, calls }) => `${key}(${calls.length})`).join(' ');
  console.log(`async stress: ${started} calls, ${completed} callbacks, ${doubleCallbacks} double; classes: ${covered}`);
  if (doubleCallbacks > 0 || completed !== started) process.exitCode = 1;
  classes.settle(all);
})().catch((error) => {
  console.error(`async stress: ${error.stack || error}`);
  process.exitCode = 1;
}).finally(() => workDir.cleanUp());

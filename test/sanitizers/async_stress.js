'use strict';
// Concurrent asynchronous calls of every method of every class that both
// addons serve (script_classes.js lists the keys), 20 at a time on one object
// as the bridge allows, with synchronous calls of the same method meanwhile,
// then all methods of a class mixed. Run under the thread sanitizer, a data
// race in any native class ends the process.
//
//   node test/sanitizers/async_stress.js [rounds]
//
// Runs in a temporary folder with a temporary INSTALLER_VESK_HOME. Fails on
// a callback called twice, a callback that does not come (hang), or a value
// thrown that is not an Error.
const path = require('node:path');
const { isolate } = require('../script/isolated_run');
const { bridgeTestAddon, installerAddon } = require('../script/addon_paths');
const classes = require('../script/script_classes');

const rounds = Number(process.argv[2] || 5);
const concurrency = 20;
const deadlineMs = 300000;

const addonFiles = [[path.resolve(installerAddon), classes.installerKeys],
  [path.resolve(bridgeTestAddon), classes.testAddonKeys]];
const workDir = isolate('installer-stress-');
const addons = addonFiles.map(([file, keys]) => [require(file), keys]);

let started = 0;
let completed = 0;
let doubleCallbacks = 0;
const pending = new Set();

// An asynchronous call whose callback must come exactly once.
function callOnce(object, method, args) {
  let resolve;
  const done = new Promise((r) => { resolve = r; });
  let calls = 0;
  const callback = () => {
    calls += 1;
    if (calls > 1) { doubleCallbacks += 1; return; }
    completed += 1;
    pending.delete(done);
    resolve();
  };
  pending.add(done);
  started += 1;
  try {
    object[method](...args, callback);
  } catch (error) {
    pending.delete(done);
    started -= 1;
    if (!(error instanceof Error)) throw new Error(`${method} threw a non-Error: ${String(error)}`);
  }
  return done;
}

function callSynchronously(object, method, args) {
  try {
    object[method](...args);
  } catch (error) {
    if (!(error instanceof Error)) throw new Error(`${method} threw a non-Error: ${String(error)}`);
  }
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
  const all = [];
  const targets = [];
  for (const [addon, keys] of addons) {
    const served = classes.discoverClasses(addon, keys);
    all.push(...served);
    for (const { key, object, methods } of served) {
      const calls = [];
      for (const method of methods) {
        const makeArguments = classes.findArguments(object, method, () => {});
        if (makeArguments) calls.push({ method, makeArguments });
      }
      targets.push({ key, object, calls });
    }
  }
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

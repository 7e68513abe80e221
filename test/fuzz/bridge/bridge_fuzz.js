'use strict';
// Fuzzer of the script bridge: every method of every class both addons serve
// (script_classes.js), random values of every kind, both call forms; README.md
// lists them. Findings (status 1): a thrown non-Error that is not the fuzzer's own,
// a callback called twice, after its call threw, or never; a sync call taking 60 s
// aborts the process.   node test/fuzz/bridge/bridge_fuzz.js [--calls N] [--seed S]
const { Worker } = require('node:worker_threads');
const classes = require('../../script/script_classes');
const { isolate, option } = classes;

const totalCalls = option('calls', 20000);
const seed = option('seed', 13);
const hangSeconds = 60;
const maxPending = 200;  // asynchronous calls in flight before the fuzzer waits

// Deterministic random numbers (mulberry32).
let state = seed >>> 0;
function random() {
  state = (state + 0x6D2B79F5) >>> 0;
  let t = state;
  t = Math.imul(t ^ (t >>> 15), t | 1);
  t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
  return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
}
const below = (n) => Math.floor(random() * n);
const pick = (list) => list[below(list.length)];
const chance = (p) => random() < p;

const findings = [];
const reached = new Set();  // methods that ran at least once
const counts = { calls: 0, sync: 0, async: 0, errors: 0, passedThrough: 0, callbacks: 0, uncaught: 0 };
const finding = (text) => findings.push(text) <= 20 && console.error(`FINDING: ${text}`);

// Values the fuzzer's own code throws, recognisable by their shape; the addon
// must pass them through unchanged.
const token = () => pick([() => new Error('fuzz token'), () => Symbol('fuzz token'),
  () => `fuzz token ${below(1e9)}`, () => ({ fuzzToken: true }), () => below(1e9) + 0.5])();
const isToken = (value) => (typeof value === 'symbol' && value.description === 'fuzz token') ||
  (typeof value === 'string' && value.startsWith('fuzz token')) ||
  (typeof value === 'number' && value % 1 === 0.5) ||
  (value !== null && typeof value === 'object' && Object.hasOwn(value, 'fuzzToken'));

function checkThrown(value, where) {
  if (value instanceof Error) counts.errors += 1;
  else if (isToken(value)) counts.passedThrough += 1;
  else finding(`${where} threw a non-Error: ${typeof value} ${safeString(value)}`);
}
const safeString = (value) => { try { return String(value).slice(0, 80); } catch { return '(unprintable)'; } };

// Reports from sinks and script errors raised by the bridge outside a call.
process.on('uncaughtException', (error) => { counts.uncaught += 1; checkThrown(error, 'an uncaught exception'); });

const workDir = isolate('installer-fuzz-');
const served = classes.discoverBothAddons();
const targets = served.flatMap(({ key, object, methods }) => methods.map((method) =>
  ({ key, object, method, fn: object[method], parameters: classes.parameterCount(object, method) ?? 3 })));
const classObjects = served.map(({ object }) => object);
const gate = served.find(({ key }) => key === 'gate');

// Methods of the test addon that wait by design.
const harmlessInputs = {
  // Waits while the gate is closed: the gate is kept open (reset is followed by open()).
  'gate.pass': () => [pick([0, 1, { value: 2 }, {}, 'x', undefined])],
  // Waits up to 10 s for `parties` callers: at most one is asked for.
  'gate.meet': () => [pick([0, 1, { value: 1 }, {}, undefined, null, Symbol('s')])],
};
const syncOnly = { 'gate.reset': () => gate && gate.object.open() };

const records = () => ({ x: randomInt(), weight: randomInt(), visible: chance(0.5), label: randomString(),
  tag: { name: randomString(), depth: randomInt() } });
function randomInt() {
  return pick([0, 1, -1, 7, 2147483647, -2147483648, 2147483648, 4294967295, 4294967296, 1.9, -0, NaN,
    Infinity, -Infinity, 1e308, 5e-324, below(1000), -below(1e9), random() * 1e12]);
}
// No string made here holds a path separator or a drive colon: a path argument
// names a file in the temporary folder.
const randomString = () => anyString().replace(/[\\/:]/g, '_');
function anyString() {
  switch (below(12)) {
    case 0: return '';
    case 1: return '\uD800';                       // lone high surrogate
    case 2: return `a\uDC00b\uD83D`;               // lone low and trailing high surrogates
    case 3: return 'ü😀\u0000after';               // NUL inside
    case 4: return chance(0.005) ? 'x'.repeat(256 * 1024 + below(1 << 20)) : 'y'.repeat(below(5000));
    case 5: return String(randomInt());
    case 6: return 'A=1 B="two words" C= =D "E=';  // setup parameters
    case 7: return pick(['{2B8E4F61-7C3A-4D59-A1E2-6F0B9C8D7E15}', '{00000000-0000-0000-0000-000000000000}', '{bad']);
    case 8: return 'log' + below(100) + '.txt';
    case 9: return String.fromCharCode(...Array.from({ length: below(20) }, () => below(0x10000)));
    case 10: return 'value';
    default: return `text ${below(1e6)}`;
  }
}

// A progress sink: quiet, throwing, with a member that is no function or missing, or a throwing proxy.
function sink() {
  const kind = below(6);
  const member = () => (kind === 1 ? () => { throw token(); } : kind === 2 && chance(0.5) ? 42 : () => {});
  const object = {};
  if (kind !== 3) object.progressChanged = member();
  if (kind !== 4) object.completed = member();
  return kind === 5 ? new Proxy(object, { get: () => { throw token(); } }) : object;
}

function randomValue(depth = 0) {
  const leaf = depth > 3;
  switch (below(leaf ? 10 : 27)) {
    case 0: return undefined;
    case 1: return null;
    case 2: return chance(0.5);
    case 3: case 4: return randomInt();
    case 5: case 6: return randomString();
    case 7: return Symbol(randomString().slice(0, 10));
    case 8: return pick([0n, -1n, 2n ** 64n, BigInt(below(1000))]);
    case 9: return {};
    case 10: return { value: randomValue(depth + 1) };
    case 11: { const box = {}; box.value = box; return box; }  // a box that contains itself
    case 12: return Object.defineProperty({}, 'value', { get: () => { throw token(); }, enumerable: chance(0.5) });
    case 13: return new Proxy(chance(0.5) ? {} : { value: randomValue(depth + 1) }, proxyHandler());
    case 14: { const { proxy, revoke } = Proxy.revocable({}, {}); revoke(); return proxy; }
    case 15: return Array.from({ length: below(4) }, () => (chance(0.6) ? records() : randomValue(depth + 1)));
    case 16: return chance(0.5) ? records() : { ...records(), [pick(['x', 'tag', 'label'])]: randomValue(depth + 1) };
    case 17: return sink();
    case 18: return pick(classObjects);
    case 19: return reentrantBox(depth);
    case 20: return Object.create({ value: randomValue(depth + 1) });
    case 21: return pick([() => {}, Object.freeze({}), Object.create(null), new Date(0), [], [,,], growingArray()]);
    case 22: return Object.defineProperty({}, 'h', { value: 1 });  // a hidden own property
    case 23: return Object.freeze(Array.from({ length: below(3) }, records));
    case 24: {  // a constructor that cannot be read, own or inherited
      const throwing = Object.defineProperty({}, 'constructor', { get: () => { throw token(); } });
      return chance(0.5) ? throwing : Object.create(throwing);
    }
    case 25: {  // boxes nested around the limit of 1000
      let box = randomValue(leaf ? 4 : depth + 1);
      for (let i = 0, n = 990 + below(20); i < n; ++i) box = { value: box };
      return box;
    }
    default: return { value: { value: randomValue(depth + 1) } };
  }
}

function proxyHandler() {
  const trap = () => { throw token(); };
  return Object.fromEntries(['get', 'has', 'ownKeys', 'getOwnPropertyDescriptor', 'set', 'getPrototypeOf',
    'defineProperty'].filter(() => chance(0.3)).map((name) => [name, trap]));
}

// A box whose "value" getter calls into the addon again while it is being converted.
const reentrantBox = (depth) => ({
  get value() {
    const target = pick(targets);
    const name = `${target.key}.${target.method}`;
    if (!harmlessInputs[name] && !syncOnly[name]) {
      try { target.fn.call(target.object, ...randomArguments(target, depth + 2)); } catch (error) { checkThrown(error, 'a nested call'); }
    }
    return randomValue(depth + 1);
  },
});

// An array whose element getter appends elements while it is read.
const growingArray = (array = [records()]) => Object.defineProperty(array, 0,
  { get() { if (array.length < 5) array.push(records()); return records(); } });

function randomArguments(target, depth = 0) {
  const harmless = harmlessInputs[`${target.key}.${target.method}`];
  if (harmless) return harmless();
  const count = Math.max(0, target.parameters + pick([0, 0, 0, 0, -1, 1, 2, -2]));
  return Array.from({ length: count }, () => randomValue(depth));
}

let pending = 0;
function trackedCallback(target, afterThrow) {
  let calls = 0;
  pending += 1;
  return (...args) => {
    calls += 1;
    if (afterThrow.threw) finding(`${target.key}.${target.method}: callback after the call threw`);
    if (calls === 2) finding(`${target.key}.${target.method}: callback called twice`);
    if (calls > 1) return;
    pending -= 1;
    counts.callbacks += 1;
    if (args.length !== 1) finding(`${target.key}.${target.method}: callback got ${args.length} arguments`);
    if (chance(0.02)) throw token();  // a throwing callback is the host's to report
  };
}

const foreignReceiver = () => pick([undefined, null, 42, {}, pick(classObjects), Object.create(pick(classObjects)),
  new Proxy(pick(classObjects), {}), globalThis, records()]);

function fuzzOneCall() {
  const target = pick(targets);
  const name = `${target.key}.${target.method}`;
  if (syncOnly[name]) {
    target.object[target.method]();
    syncOnly[name]();
    counts.sync += 1;
    return reached.add(target);
  }
  const args = randomArguments(target);
  // The asynchronous form: a function after at least the declared arguments.
  const asynchronous = !harmlessInputs[name] && args.length >= target.parameters && chance(0.35);
  const state = { threw: false };
  if (asynchronous) args.push(trackedCallback(target, state));
  else if (chance(0.05)) args[Math.max(0, args.length - 1)] = () => {};  // a function where a parameter is expected
  const form = below(40);
  const receiver = form === 0 ? foreignReceiver() : target.object;
  Atomics.add(heartbeat, 0, 1);
  try {
    if (form === 1) Reflect.construct(target.fn, args);
    else target.fn.apply(receiver, args);
    counts[asynchronous ? 'async' : 'sync'] += 1;
    reached.add(target);
  } catch (error) {
    state.threw = true;
    if (asynchronous) pending -= 1;  // no callback may come
    checkThrown(error, name);
  }
}

// The watchdog: a sync call that does not return in time aborts the process.
const heartbeat = new Int32Array(new SharedArrayBuffer(4));
const watchdog = new Worker(`
  const { workerData } = require('node:worker_threads');
  const current = new Int32Array(workerData.buffer);
  let last = -1, since = Date.now();
  setInterval(() => {
    const now = Atomics.load(current, 0);
    if (now !== last) { last = now; since = Date.now(); return; }
    if (Date.now() - since > workerData.limit * 1000) {
      process._rawDebug('HANG: a call did not return in ' + workerData.limit + ' s');
      process.kill(process.pid, 'SIGABRT');
    }
  }, 1000);
`, { eval: true, workerData: { buffer: heartbeat.buffer, limit: hangSeconds } });
watchdog.unref();

async function waitForCallbacks(limitMs) {
  const deadline = Date.now() + limitMs;
  while (pending > 0 && Date.now() < deadline) {
    classes.settle(served);
    Atomics.add(heartbeat, 0, 1);  // waiting is progress
    await new Promise((resolve) => setTimeout(resolve, 10));
  }
}

(async () => {
  if (gate) gate.object.open();
  const started = Date.now();
  let nextReport = 0.1;
  for (let call = 0; call < totalCalls; ++call) {
    counts.calls += 1;
    fuzzOneCall();
    if (call % 100 === 99 || pending >= maxPending) {
      await new Promise((resolve) => setImmediate(resolve));
      if (pending >= maxPending) await waitForCallbacks(hangSeconds * 1000);
      if (call % 2000 === 1999) classes.settle(served);
    }
    if ((call + 1) / totalCalls >= nextReport) {
      console.log(`bridge fuzz: ${call + 1} calls, ${Math.round((Date.now() - started) / 1000)} s, ` +
        `${findings.length} findings, rss ${Math.round(process.memoryUsage().rss / 1048576)} MiB`);
      nextReport += 0.1;
    }
  }
  await waitForCallbacks(hangSeconds * 1000);
  if (pending > 0) finding(`hang: ${pending} callbacks never came`);
  await new Promise((resolve) => setTimeout(resolve, 200));  // a late second callback shows here
  classes.settle(served);
  const missed = targets.filter((target) => !reached.has(target)).map(({ key, method }) => `${key}.${method}`);
  console.log(`bridge fuzz: seed ${seed}; ${JSON.stringify(counts)}; methods run ${reached.size}/${targets.length}` +
    `${missed.length ? ` (not run: ${missed.join(' ')})` : ''}; findings ${findings.length}`);
  if (findings.length > 0) process.exitCode = 1;
})().catch((error) => {
  console.error(`bridge fuzz: ${error.stack || error}`);
  process.exitCode = 1;
}).finally(() => {
  watchdog.terminate();
  workDir.cleanUp();
});

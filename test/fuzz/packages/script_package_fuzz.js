'use strict';
// Script-level package fuzzer (Linux): the package classes over the damaged
// packages msi_package_fuzz writes; README.md gives the options and the findings.
const { spawn, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { buildDir, installerAddon } = require('../../script/addon_paths');
const { copyHost } = require('../../script/child_process_helpers');
const { discoverClasses, findArguments, isolate, option } = require('../../script/script_classes');

const packageName = 'velkor_installer.msi';
const mutationsPerChild = 500;  // a batch: the damaged files on disk at once, and one child's share

// The child: runs mutations `from` .. `to - 1` of the packages in `folder`.
async function runChild([from, to, folder, progressFile]) {
  const addon = require(installerAddon);
  const progress = fs.openSync(progressFile, 'a');
  const note = (kind, index, more) => fs.writeSync(progress, `${JSON.stringify({ kind, index, ...more })}\n`);
  const files = new Map(fs.readdirSync(folder).map((name) => [Number(name.split('-')[0]), name]));

  const calls = await packageMethods(addon);
  const info = addon.query('msi_package_info');
  const join = { name: 'application.join', call: () => addon.query('application').join() };
  const tableQueries = () => info.executeQuery('SELECT `Name` FROM `_Tables`')
    .map(([table]) => ({ name: `executeQuery(${table})`, call: () => info.executeQuery(`SELECT * FROM \`${table}\``) }));
  const describe = (value) => { try { return `${typeof value} ${String(value)}`; } catch { return typeof value; } };

  for (let index = Number(from); index < Number(to); ++index) {
    note('begin', index);
    fs.rmSync(packageName, { force: true });  // a new file each time, not the checked one rewritten
    fs.copyFileSync(path.join(folder, files.get(index)), packageName);
    let errors = 0;
    const attempt = ({ name, call }) => {
      note('call', index, { name });
      try {
        return call();
      } catch (thrown) {
        if (thrown instanceof Error) errors += 1;
        else note('finding', index, { text: `${name} threw a non-Error: ${describe(thrown)}` });
      }
      return undefined;
    };
    attempt(join);  // the package object is made afresh by the next call
    for (const call of calls) attempt(call);
    for (const call of attempt({ name: 'executeQuery(_Tables)', call: tableQueries }) || []) attempt(call);
    note('end', index, { errors });
  }
  note('done');
}

// Every method of the two classes as { name, call }, with arguments that convert.
// Found with no package present, so that the trial calls made on worker threads
// have all ended (with the open error) before the first mutation is placed.
async function packageMethods(addon) {
  const calls = [];
  const trials = [];
  for (const { key, object, methods } of discoverClasses(addon, ['msi_package_info', 'msi_product_info'])) {
    for (const method of methods) {
      let ended;
      trials.push(new Promise((resolve) => { ended = resolve; }));
      const makeArguments = findArguments(object, method, () => ended());
      if (!makeArguments) throw new Error(`no arguments convert for ${key}.${method}`);
      calls.push({ name: `${key}.${method}`, call: () => object[method](...makeArguments()) });
    }
  }
  await Promise.all(trials);
  return calls;
}

function options() {
  const chosen = { count: option('count', 1000), seed: option('seed', 13), first: option('first', 0),
    jobs: option('jobs', 2), hangSeconds: option('hang-seconds', 60) };
  if (!Object.values(chosen).every(Number.isSafeInteger) || Math.min(...Object.values(chosen)) < 0 ||
      chosen.jobs < 1 || chosen.hangSeconds < 1) {
    console.error('usage: script_package_fuzz.js [--count N] [--seed S] [--first I] [--jobs J] [--hang-seconds T]');
    process.exit(2);
  }
  return chosen;
}

const fuzzProgram = path.join(buildDir, 'test', 'fuzz', 'packages', 'msi_package_fuzz');

// Writes mutations `from` .. `to - 1` into `folder` (no pipe: the listing is the result).
function writeMutations(seed, from, to, folder) {
  const result = spawnSync(fuzzProgram, ['--write', folder, '--seed', seed, '--first', from, '--count', to - from],
    { stdio: 'ignore' });
  if (result.status !== 0) throw new Error(`${fuzzProgram} --write ended with ${result.status ?? result.signal}`);
}

// The child's progress records; a line cut short by a crash is left out.
function readRecords(file) {
  return fs.readFileSync(file, 'utf8').split('\n').flatMap((line) => {
    try { return [JSON.parse(line)]; } catch { return []; }
  });
}

// Runs one child from `from`; resolves with its progress records and how it ended.
function runChildProcess(job, from, to, folder, hangSeconds) {
  fs.writeFileSync(job.progress, '');
  return new Promise((resolve) => {
    const child = spawn(job.host, [__filename, '--child', from, to, folder, job.progress], {
      cwd: job.dir, stdio: 'ignore', env: { ...process.env, INSTALLER_VESK_HOME: path.join(job.dir, 'home') },
    });
    let size = -1, still = 0, hung = false;  // the progress file's size, seconds it stayed so
    const watch = setInterval(() => {
      const now = fs.statSync(job.progress).size;
      [still, size] = [now === size ? still + 1 : 0, now];
      if (still >= hangSeconds && !hung) { hung = true; child.kill('SIGKILL'); }
    }, 1000);
    child.on('exit', (code, signal) => {
      clearInterval(watch);
      resolve({ code, signal, hung, records: readRecords(job.progress) });
    });
  });
}

async function main() {
  const { count, seed, first, jobs, hangSeconds } = options();
  if (!fs.existsSync(fuzzProgram)) throw new Error(`${fuzzProgram} is missing: build it with scripts/build.sh linux`);
  const run = isolate('script-package-fuzz-');
  const started = Date.now();
  const counts = { mutations: 0, calls: 0, errors: 0, crashes: 0, hangs: 0 };
  const findings = [];  // { index, text }
  const end = first + count;
  let nextBatch = first;
  let reported = first;

  // Adds up a child's records; returns the mutation it stopped in, if any.
  function account({ records, ...outcome }) {
    let current = null;  // the mutation begun and not ended, and its last call
    for (const { kind, index, name, text, errors } of records) {
      if (kind === 'begin') current = { index, call: '(before the first call)' };
      else if (kind === 'call') { counts.calls += 1; current.call = name; }
      else if (kind === 'finding') findings.push({ index, text });
      else if (kind === 'end') { counts.mutations += 1; counts.errors += errors; current = null; }
    }
    const finished = records.length > 0 && records[records.length - 1].kind === 'done';
    if (finished && outcome.code === 0 && !outcome.hung) return null;
    const how = outcome.hung ? `hang: no call returned in ${hangSeconds} s`
      : outcome.signal ? `crash: ${outcome.signal}` : `crash: exit code ${outcome.code}`;
    counts[outcome.hung ? 'hangs' : 'crashes'] += 1;
    if (current) counts.mutations += 1;
    findings.push({ index: current ? current.index : null,
      text: current ? `${current.call} ${how}` : `${how} ${finished ? 'after its last mutation' : 'before its first mutation'}` });
    return current;
  }

  async function worker(number) {
    const dir = path.join(run.dir, `job${number}`);
    fs.mkdirSync(path.join(dir, 'home'), { recursive: true });
    const job = { dir, host: copyHost(dir), progress: path.join(dir, 'progress.txt') };
    const batchSize = Math.min(mutationsPerChild, Math.ceil(count / jobs));
    while (nextBatch < end) {
      const from = nextBatch;
      const to = Math.min(end, from + batchSize);
      nextBatch = to;
      const folder = path.join(job.dir, `batch-${from}`);
      writeMutations(seed, from, to, folder);
      // A child that ends early is followed by one starting after its mutation;
      // one that fails before its first mutation gives up the rest of the batch.
      for (let next = from; next < to;) {
        const stopped = account(await runChildProcess(job, next, to, folder, hangSeconds));
        next = stopped ? stopped.index + 1 : to;
      }
      fs.rmSync(folder, { recursive: true, force: true });
      if (count >= 10000 && to - reported >= count / 10) {
        reported = to;
        console.log(`script_package_fuzz: ${counts.mutations} of ${count} mutations, ${findings.length} findings, ` +
          `${Math.round((Date.now() - started) / 1000)} s`);
      }
    }
  }

  await Promise.all(Array.from({ length: jobs }, (_, number) => worker(number)));
  const seconds = ((Date.now() - started) / 1000).toFixed(0);
  console.log(`script_package_fuzz: ${counts.mutations} mutations (seed ${seed}, ${first} .. ${end - 1}) in ${seconds} s, ` +
    `${jobs} jobs; ${counts.calls} calls, ${counts.errors} Error throws; crashes ${counts.crashes}, ` +
    `hangs ${counts.hangs}, other findings ${findings.length - counts.crashes - counts.hangs}`);
  if (!findings.length) return run.cleanUp() ?? 0;
  for (let number = 0; number < jobs; ++number) fs.rmSync(path.join(run.dir, `job${number}`), { recursive: true, force: true });
  findings.sort((a, b) => (a.index ?? -1) - (b.index ?? -1));
  const kept = path.join(run.dir, 'findings');
  for (const { index, text } of findings) {
    console.log(`FINDING ${index ?? '-'}: ${text}`);
    if (index !== null) writeMutations(seed, index, index + 1, kept);
  }
  console.log(`script_package_fuzz: the damaged packages are in ${kept} (--first <index> --count 1 reruns one)`);
  return 1;
}

if (process.argv[2] === '--child') {
  runChild(process.argv.slice(3));
} else {
  main().then((status) => { process.exitCode = status; }, (error) => { console.error(error); process.exitCode = 2; });
}

'use strict';
// msi_package_info from script against bare baselines measured in the same run:
//   getProductFeatures on 1,000 features (with their Condition rows), against
//   ReadProductFeatures alone on an open package;
//   executeQuery of 10,000 File rows, against a bare view loop that opens the
//   package, reads every field as text and closes it.
// Each round runs every variant once; a figure is the median over the rounds and
// "per-round ratios" is the range of the rounds' ratios. Wall-clock and processor
// time are both given: on a busy machine the latter is the steadier.
//   node package_bench.js generate <package>          writes the package (msibuild)
//   <host> package_bench.js measure <installer addon> <bench addon> [rounds]
//     with the package beside <host> as velkor_installer.msi
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const kFiles = 10000;
const kFeatures = 1000;

function generate(packagePath) {
  const dir = fs.mkdtempSync(`${packagePath}-tables-`);
  const table = (name, header, rows) => {
    const file = path.join(dir, `${name}.idt`);
    fs.writeFileSync(file, header + rows.map((row) => row.join('\t')).join('\n') + '\n');
    return file;
  };
  const files = [];
  for (let i = 0; i < kFiles; ++i) {
    files.push([`file${i}`, `comp${i % 100}`, `F${i}~1.DAT|file${i}.dat`, 1000 + i, `1.0.0.${i % 50}`, 1033, 512, i + 1]);
  }
  const features = [];
  const conditions = [];
  for (let i = 0; i < kFeatures; ++i) {
    features.push([`Feature${i}`, i === 0 ? '' : `Feature${Math.floor((i - 1) / 4)}`, `Title of Feature${i}`,
      `Description of feature ${i}`, i % 3, 1 + (i % 5), '', 0]);
    conditions.push([`Feature${i}`, i % 7, `VersionNT >= ${500 + i}`]);
    if (i % 10 === 0) conditions.push([`Feature${i}`, 100, `NOT Installed AND SLOT="${i}"`]);
  }
  const imports = [
    table('File', 'File\tComponent_\tFileName\tFileSize\tVersion\tLanguage\tAttributes\tSequence\n' +
      's72\ts72\tl255\ti4\tS72\tS20\tI2\ti4\nFile\tFile\n', files),
    table('Feature', 'Feature\tFeature_Parent\tTitle\tDescription\tDisplay\tLevel\tDirectory_\tAttributes\n' +
      's38\tS38\tL64\tL255\tI2\ti2\tS72\ti2\nFeature\tFeature\n', features),
    table('Condition', 'Feature_\tLevel\tCondition\ns38\ti2\tS255\nCondition\tFeature_\tLevel\n', conditions),
  ];
  fs.rmSync(packagePath, { force: true });
  execFileSync('msibuild', [packagePath, ...imports.flatMap((file) => ['-i', file])]);
  fs.rmSync(dir, { recursive: true, force: true });
}

function measure(installerAddon, benchAddon, rounds) {
  const info = require(path.resolve(installerAddon)).query('msi_package_info');
  const bare = require(path.resolve(benchAddon));
  const packagePath = path.join(path.dirname(process.execPath), 'velkor_installer.msi');
  if (!bare.openPackage(packagePath)) throw new Error(`cannot open ${packagePath}`);

  const now = () => Number(process.hrtime.bigint()) / 1e6;
  // The process's processor time (every thread's, the garbage collector's too):
  // what a loaded machine disturbs least.
  const cpu = () => { const { user, system } = process.cpuUsage(); return (user + system) / 1e3; };
  const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];
  // Milliseconds per call of `call`, run `count` times, as {wall, cpu}; its result must not change.
  const timed = (count, call) => {
    let expected;
    return () => {
      const wall = now();
      const processor = cpu();
      for (let i = 0; i < count; ++i) {
        const result = call();
        if (expected === undefined) expected = result;
        else if (result !== expected) throw new Error(`result changed: ${result} after ${expected}`);
      }
      return { wall: (now() - wall) / count, cpu: (cpu() - processor) / count };
    };
  };
  const query = 'SELECT * FROM `File`';
  const variants = {
    'getProductFeatures (script)': timed(20, () => {
      const features = [];
      if (info.getProductFeatures(features) !== 0) throw new Error('getProductFeatures failed');
      return features.length;
    }),
    'ReadProductFeatures alone': timed(20, () => bare.readProductFeatures()),
    'executeQuery (script)': timed(3, () => info.executeQuery(query).length),
    'bare view loop': timed(3, () => bare.bareQuery(packagePath, query) > 0 ? kFiles : -1),
  };
  // Warm-up: creates the package object and checks the sizes.
  const warm = Object.fromEntries(Object.entries(variants).map(([name, run]) => [name, run()]));
  if (info.executeQuery(query).length !== kFiles) throw new Error('executeQuery did not read every row');
  const samples = Object.fromEntries(Object.keys(variants).map((name) => [name, []]));
  for (let round = 0; round < rounds; ++round) {
    for (const [name, run] of Object.entries(variants)) samples[name].push(run());
  }
  const compare = (ours, baseline) => {
    for (const clock of ['wall', 'cpu']) {
      const a = samples[ours].map((sample) => sample[clock]);
      const b = samples[baseline].map((sample) => sample[clock]);
      const ratios = a.map((value, i) => value / b[i]);
      console.log(`  ${clock.padEnd(4)} ${ours} ${median(a).toFixed(2)} ms, ${baseline} ${median(b).toFixed(2)} ms:` +
        ` ratio ${(median(a) / median(b)).toFixed(2)}` +
        ` (per-round ratios ${Math.min(...ratios).toFixed(2)}-${Math.max(...ratios).toFixed(2)})`);
    }
  };
  console.log(`${kFeatures} features, ${kFiles} File rows; median of ${rounds} rounds (warm-up: ${
    Object.values(warm).map((ms) => ms.wall.toFixed(1)).join(', ')} ms)`);
  compare('getProductFeatures (script)', 'ReadProductFeatures alone');
  compare('executeQuery (script)', 'bare view loop');
}

const [mode, ...args] = process.argv.slice(2);
if (mode === 'generate') generate(args[0]);
else if (mode === 'measure') measure(args[0], args[1], Number(args[2] || 11));
else throw new Error('usage: package_bench.js generate <package> | measure <installer addon> <bench addon> [rounds]');

'use strict';
// The package facts from script (msi_package_info, msi_product_info) against
// products installed for real: the Osprey family of test/packages, installed by
// our engine in a temporary INSTALLER_VESK_HOME on Linux and by Wine's msi.dll
// in the Windows lane, always through msi_setup_manager from the child's
// current directory. The package object reads the package beside the host
// executable: a copy of this node (named electron.exe under Windows) in a
// folder of its own, where each test puts the package it needs.
const { after, before, suite, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { buildDir, installerAddon } = require('./addon_paths');
const { copyHost, runInFreshProcess } = require('./child_process_helpers');

const underWindows = process.platform === 'win32';
const packages = path.join(buildDir, 'test', 'packages');

// Codes authored in test/packages/CMakeLists.txt.
const guard19 = '{444F63BF-29CF-49A2-B5CF-1258C53F39E6}';
const guard110 = '{05BDA2B5-5B93-4E11-BA4B-83EC001ED351}';
const beta = '{0F30C04E-E20E-4A5D-95AE-BF041D6CF673}';
const toolbox = '{0B33A8E1-0F8F-46C6-ACCF-3845061F8083}';
const packageCode19 = '{C36D1763-B472-40EF-A86D-A69EB91522D5}';
const packageCode110 = '{8BE6F9F5-6B38-45CF-B5BC-39FEB1F6FB47}';

// What the child scripts share: installs and removals through the setup
// manager, each ending with the Windows Installer result.
const prelude = `
const setup = addon.query('msi_setup_manager');
const info = addon.query('msi_package_info');
const task = (method, ...args) => new Promise((resolve) => {
  setup[method](...args, { progressChanged() {}, completed: resolve });
});
const attempt = (f) => { try { return f(); } catch (e) { return 'Error: ' + e.message; } };
const conflict = () => { const out = {}; const found = info.getConflictedProductInfo(out); return { found, value: out.value }; };
const main = (body) => body().catch((e) => { report.error = String(e && e.stack); });
`;

let hostDir;
let host;

function placeBesideHost(name) {
  const target = path.join(hostDir, 'velkor_installer.msi');
  fs.rmSync(target, { force: true });
  if (name) fs.copyFileSync(path.join(packages, name), target);
}

// Runs `body` in the host copy, with `cwdPackage` (and its cabinet) as
// velkor_installer.msi in the child's current directory.
function runHost(body, { cwdPackage, env } = {}) {
  return runInFreshProcess(installerAddon, prelude + body, {
    execPath: host,
    timeout: 180000,
    env: { INSTALLER_VESK_HOME: path.join(hostDir, 'home'), ...env },
    prepare(dir) {
      if (!cwdPackage) return;
      fs.copyFileSync(path.join(packages, cwdPackage), path.join(dir, 'velkor_installer.msi'));
      fs.copyFileSync(path.join(packages, 'osprey.cab'), path.join(dir, 'osprey.cab'));
    },
  }).report;
}

// Wine's msi.dll opens a missing package with ERROR_FUNCTION_FAILED (1627);
// the documented code, which the Linux engine gives, is ERROR_OPEN_FAILED (110).
const missingPackageError = `Error: msiProductInfo error: ${underWindows ? 1627 : 110}`;

suite('package facts from script', () => {
  before(() => {
    hostDir = fs.mkdtempSync(path.join(os.tmpdir(), 'installer-host-'));
    host = copyHost(hostDir);
  });
  after(() => fs.rmSync(hostDir, { recursive: true, force: true }));

  test('an older member installed, a newer package beside the host', () => {
    placeBesideHost('osprey_1_10.msi');
    const report = runHost(`
      main(async () => {
        report.installed = await task('runSetupTask', '');
        report.name = info.getProductName();
        report.directory = info.getInstallDirectory();
        report.filePath = info.getMsiFilePath();
        report.hostDir = require('node:path').dirname(process.execPath);
        report.code = info.getProductCode();
        report.edition = info.getEdition();
        report.rebranding = info.getRebrandingCode();
        report.premium = info.getPremiumLink();
        report.properties = [info.getProperty('ProductVersion'), info.getProperty('NO_SUCH_PROPERTY')];
        report.setupType = info.getSetupType();
        report.cabinets = info.getCabFileNames();
        const features = [{}, {}, {}, {}, {}, {}];
        report.featuresCode = info.getProductFeatures(features);
        report.features = features.slice(0, 4);
        report.featureArray = { length: features.length, holes: [4, 5].filter((i) => !(i in features)) };
        report.badFeatures = [attempt(() => info.getProductFeatures([{}, 5])), attempt(() => info.getProductFeatures('x'))];
        const untouched = [{}];
        report.asyncFeatures = await new Promise((resolve) => info.getProductFeatures(untouched, resolve));
        report.untouched = untouched;
        const out = {};
        report.conflicted = info.getConflictedProductInfo(out);
        report.conflict = out.value;
        const first = out.value;
        report.conflictedAgain = info.getConflictedProductInfo(out);
        report.keptFirstValue = out.value === first;
        report.queries = {
          join: info.executeQuery('SELECT Feature.Feature, Component.Component FROM Feature, FeatureComponents, Component ' +
            'WHERE Feature.Feature = FeatureComponents.Feature_ AND FeatureComponents.Component_ = Component.Component'),
          where: info.executeQuery("SELECT Feature, Level, Description FROM Feature WHERE Feature = 'Service'"),
          numbers: info.executeQuery('SELECT Feature, Level FROM Feature WHERE Level > 100'),
          bad: info.executeQuery('SELECT nothing FROM nowhere'),
        };
        // The installed product as the package and its cabinet left it.
        report.installedFile = fs.existsSync(require('node:path').join(report.directory, 'engine.txt'));
        const product = addon.query('msi_product_info');
        report.current = [product.isValid(), product.getPackageCode()];
        report.asyncName = await new Promise((resolve) => { report.asyncReturn = info.getProductName(resolve); });
        report.removed = await task('runUninstallProduct', '${guard19}', '');
        report.afterRemoval = [info.getSetupType(), info.getConflictedProductInfo({})];
      });
    `, { cwdPackage: 'osprey_1_9.msi' });

    assert.equal(report.error, undefined);
    assert.equal(report.installed, 0);
    assert.equal(report.name, 'Osprey Guard');
    assert.equal(report.filePath, path.join(report.hostDir, 'velkor_installer.msi'));
    assert.equal(report.code, guard110);
    assert.equal(report.edition, 'premium');
    assert.equal(report.rebranding, 'RB-7731');
    assert.equal(report.premium, 'https://osprey.example/premium?from=1.10.0');
    assert.deepEqual(report.properties, ['1.10.0', '']);
    // The package's folder is where the older member went: Program Files of
    // the engine's drive root on Linux, C:\Program Files under Wine.
    const sep = underWindows ? '\\' : '/';
    const programFiles = underWindows ? 'C:\\Program Files' : path.join(hostDir, 'home', 'drive', 'Program Files');
    assert.equal(report.directory, [programFiles, 'Osprey Labs', 'Osprey Guard', ''].join(sep));
    assert.equal(report.installedFile, true);
    assert.equal(report.setupType, 3, 'UpgradesRelatedProduct: 1.9.0 lies in [1.0.0, 1.10.0)');
    assert.deepEqual(report.cabinets, ['osprey.cab']);

    assert.equal(report.featuresCode, 0);
    const level = (condition, installLevel) => ({ condition, installLevel });
    assert.deepEqual(report.features, [
      { name: 'Main', parentName: '', displayName: 'Osprey Guard', description: 'Real-time protection',
        activeInstallLevel: level('', 0), defaultInstallLevel: 1, cost: 0, enabled: true, visible: true },
      { name: 'Tools', parentName: 'Main', displayName: 'Tools', description: 'Scanner and quarantine tools',
        activeInstallLevel: level('', 0), defaultInstallLevel: 1, cost: 0, enabled: true, visible: true },
      { name: 'Docs', parentName: '', displayName: 'Manual', description: "The user's manual",
        activeInstallLevel: level('DOCS="yes"', 1), defaultInstallLevel: 200, cost: 0, enabled: true, visible: true },
      { name: 'Service', parentName: '', displayName: 'Background service', description: '',
        activeInstallLevel: level('', 0), defaultInstallLevel: 1, cost: 0, enabled: true, visible: false },
    ]);
    assert.deepEqual(report.featureArray, { length: 6, holes: [4, 5] });
    assert.deepEqual(report.badFeatures, ['Error: Failed to convert to specified type', 'Error: Failed to convert to Array type']);
    assert.equal(report.asyncFeatures, 0);
    assert.deepEqual(report.untouched, [{}], 'the asynchronous form writes nothing back');

    assert.equal(report.conflicted, true);
    assert.deepEqual(report.conflict, { productName: 'Osprey Guard', productCode: guard19, isBeta: false, isQarn: true,
      isTheSame: false, isDowngrade: false });
    assert.equal(report.conflictedAgain, true);
    assert.equal(report.keptFirstValue, true, 'a filled object receives nothing');

    assert.deepEqual(report.queries.join.map((row) => row.join('/')).sort(),
      ['Docs/Docs', 'Main/Engine', 'Service/Service', 'Tools/Tools']);
    assert.deepEqual(report.queries.where, [['Service', '1', '']]);
    assert.deepEqual(report.queries.numbers, [['Docs', '200']]);
    assert.deepEqual(report.queries.bad, []);

    assert.deepEqual(report.current, [true, packageCode19], 'msi_product_info reads the current directory');
    assert.equal(report.asyncReturn, undefined);
    assert.equal(report.asyncName, 'Osprey Guard');
    assert.equal(report.removed, 0);
    assert.deepEqual(report.afterRemoval, [1, false]);
  });

  test('the same package installed, then an older one after join, and join while a task runs', () => {
    placeBesideHost('osprey_1_10.msi');
    const older = path.join(packages, 'osprey_1_9.msi');
    const report = runHost(`
      main(async () => {
        report.installed = await task('runSetupTask', '');
        report.same = [info.getSetupType(), conflict()];
        // Released, the package object lets the file go and is made again from the new one.
        report.joined = addon.query('application').join();
        fs.copyFileSync(${JSON.stringify(older)}, ${JSON.stringify(path.join(hostDir, 'velkor_installer.msi'))});
        report.older = [info.getProductCode(), info.getSetupType(), conflict()];
        report.current = addon.query('msi_product_info').getPackageCode();
        // The setup manager's holder goes; the running task and its handler stay.
        const removal = task('runUninstallProduct', '${guard110}', '');
        report.joinedDuringTask = addon.query('application').join();
        report.removed = await removal;
        report.afterRemoval = info.getSetupType();
      });
    `, { cwdPackage: 'osprey_1_10.msi' });

    assert.equal(report.error, undefined);
    assert.equal(report.installed, 0);
    assert.deepEqual(report.same, [4, { found: true, value: { productName: 'Osprey Guard', productCode: guard110,
      isBeta: false, isQarn: true, isTheSame: true, isDowngrade: false } }]);
    assert.equal(report.joined, true);
    // 1.9.0 over 1.10.0: a downgrade, though "1.9.0" sorts after "1.10.0" as text.
    assert.deepEqual(report.older, [guard19, 1, { found: true, value: { productName: 'Osprey Guard',
      productCode: guard110, isBeta: false, isQarn: true, isTheSame: false, isDowngrade: true } }]);
    assert.equal(report.current, packageCode110);
    assert.equal(report.joinedDuringTask, true);
    assert.equal(report.removed, 0);
    assert.equal(report.afterRemoval, 1);
  });

  test('a beta and a product of another family', () => {
    placeBesideHost('osprey_1_10.msi');
    const toolboxPackage = path.join(packages, 'osprey_toolbox.msi');
    const report = runHost(`
      main(async () => {
        report.installed = [await task('runSetupTask', '')];
        fs.copyFileSync(${JSON.stringify(toolboxPackage)}, 'velkor_installer.msi');
        report.installed.push(await task('runSetupTask', ''));
        report.order = info.executeQuery('select UpgradeCode, Attributes from Upgrade where Attributes<>2');
        report.setupType = info.getSetupType();
        report.both = conflict();
        report.removed = [await task('runUninstallProduct', report.both.value.productCode, '')];
        report.one = conflict();
        report.removed.push(await task('runUninstallProduct', report.one.value.productCode, ''));
        report.none = conflict();
      });
    `, { cwdPackage: 'osprey_beta.msi' });

    assert.equal(report.error, undefined);
    assert.deepEqual(report.installed, [0, 0]);
    // The beta's 1.10.0.5 counts as 1.10.0, inside the beta row's inclusive bounds.
    assert.equal(report.setupType, 3);
    const betaInfo = { productName: 'Osprey Guard Beta', productCode: beta, isBeta: true, isQarn: true,
      isTheSame: false, isDowngrade: false };
    // Attributes 4 names neither the product's family nor a beta, so no
    // downgrade whatever the versions (1.10.0 under 2.0.0).
    const toolboxInfo = { productName: 'Osprey Toolbox', productCode: toolbox, isBeta: false, isQarn: false,
      isTheSame: false, isDowngrade: false };
    // Of the rows whose families are installed, the first in table order counts.
    const rows = report.order.map(([, attributes]) => attributes).filter((a) => a === '768' || a === '4');
    const [first, second] = rows[0] === '768' ? [betaInfo, toolboxInfo] : [toolboxInfo, betaInfo];
    assert.deepEqual(report.both, { found: true, value: first });
    assert.deepEqual(report.one, { found: true, value: second });
    assert.deepEqual(report.removed, [0, 0]);
    assert.deepEqual(report.none, { found: false, value: { productName: '', productCode: '', isBeta: false,
      isQarn: false, isTheSame: false, isDowngrade: false } });
  });

  test('without a package beside the host every method fails; msi_product_info reads the current directory', () => {
    placeBesideHost(null);
    const methods = `
      const calls = {
        getProductName: [], getInstallDirectory: [], getMsiFilePath: [], getProductCode: [], getEdition: [],
        getProperty: ['ProductName'], getProductFeatures: [[]], getSetupType: [], getCabFileNames: [],
        getConflictedProductInfo: [{}], getRebrandingCode: [], getPremiumLink: [], executeQuery: ['SELECT * FROM Property'],
      };
      report.methods = Object.keys(info);
      report.failures = Object.entries(calls).map(([name, args]) => attempt(() => info[name](...args)));
      const product = addon.query('msi_product_info');
      main(async () => {
        report.current = [product.isValid(), product.getPackageCode()];
        report.asyncValid = await new Promise((resolve) => { report.asyncReturn = product.isValid(resolve); });
      });
    `;
    const missing = runHost(methods, { cwdPackage: 'osprey_1_9.msi' });
    assert.equal(missing.error, undefined);
    assert.equal(missing.methods.length, 13);
    assert.deepEqual(missing.failures, Array(13).fill(missingPackageError));
    assert.deepEqual(missing.current, [true, packageCode19]);
    assert.equal(missing.asyncReturn, undefined);
    assert.equal(missing.asyncValid, true);

    // Beside the host but not in the current directory.
    placeBesideHost('osprey_1_10.msi');
    const elsewhere = runHost(`
      const product = addon.query('msi_product_info');
      report.current = [product.isValid(), product.getPackageCode()];
      report.besideHost = info.getProductCode();
    `);
    assert.deepEqual(elsewhere.current, [false, '']);
    assert.equal(elsewhere.besideHost, guard110);
  });
});

'use strict';
// The package facts from script (msi_package_info, msi_product_info) against the
// Osprey family, installed for real; the package object reads the package beside
// the host, a copy of this node in a folder of its own.
const { after, before, suite, test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { installerAddon, packages } = require('./addon_paths');
const { copyHost, runInFreshProcess } = require('./child_process_helpers');

const underWindows = process.platform === 'win32';

// Codes authored in test/packages/CMakeLists.txt.
const guard19 = '{444F63BF-29CF-49A2-B5CF-1258C53F39E6}';
const guard110 = '{05BDA2B5-5B93-4E11-BA4B-83EC001ED351}';
const beta = '{0F30C04E-E20E-4A5D-95AE-BF041D6CF673}';
const toolbox = '{0B33A8E1-0F8F-46C6-ACCF-3845061F8083}';
const packageCode19 = '{C36D1763-B472-40EF-A86D-A69EB91522D5}';
const packageCode110 = '{8BE6F9F5-6B38-45CF-B5BC-39FEB1F6FB47}';

// The child scripts' helpers; a task resolves with the Windows Installer result.
const prelude = `
const setup = addon.query('msi_setup_manager');
const info = addon.query('msi_package_info');
const task = (method, ...args) => new Promise((resolve) => setup[method](...args, { progressChanged() {}, completed: resolve }));
const attempt = (f) => { try { return f(); } catch (e) { return 'Error: ' + e.message; } };
const conflict = () => { const out = {}; const found = info.getConflictedProductInfo(out); return { found, value: out.value }; };
const main = (body) => body().catch((e) => { report.error = String(e && e.stack); });
`;

let hostDir, host;

function placeBesideHost(name) {
  const target = path.join(hostDir, 'velkor_installer.msi');
  fs.rmSync(target, { force: true });
  if (name) fs.copyFileSync(path.join(packages, name), target);
}

// Runs `body` in the host copy, with `cwdPackage` (and its cabinet) as
// velkor_installer.msi in the child's current directory.
function runHost(body, { cwdPackage } = {}) {
  const prepare = (dir) => cwdPackage && [[cwdPackage, 'velkor_installer.msi'], ['osprey.cab', 'osprey.cab']]
    .forEach(([from, to]) => fs.copyFileSync(path.join(packages, from), path.join(dir, to)));
  return runInFreshProcess(installerAddon, prelude + body,
    { execPath: host, timeout: 180000, env: { INSTALLER_VESK_HOME: path.join(hostDir, 'home') }, prepare }).report;
}

// Wine's msi.dll opens a missing package with ERROR_FUNCTION_FAILED (1627);
// the documented code, which the Linux engine gives, is ERROR_OPEN_FAILED (110).
const missingPackageError = `Error: msiProductInfo error: ${underWindows ? 1627 : 110}`;

const conflictInfo = (productName, productCode, flags) => ({ productName, productCode, isBeta: false, isQarn: true,
  isTheSame: false, isDowngrade: false, ...flags });

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
        const path = require('node:path');
        report.installed = await task('runSetupTask', '');
        report.facts = [info.getProductName(), info.getProductCode(), info.getEdition(), info.getRebrandingCode(),
          info.getPremiumLink(), info.getProperty('ProductVersion'), info.getProperty('NO_SUCH_PROPERTY'),
          info.getSetupType(), info.getCabFileNames()];
        report.directory = info.getInstallDirectory();
        report.filePath = [info.getMsiFilePath(), path.dirname(process.execPath)];
        const features = [{}, {}, {}, {}, {}, {}];
        report.featuresCode = info.getProductFeatures(features);
        report.features = features.slice(0, 4);
        report.featureArray = { length: features.length, holes: [4, 5].filter((i) => !(i in features)) };
        report.badFeatures = [attempt(() => info.getProductFeatures([{}, 5])), attempt(() => info.getProductFeatures('x'))];
        const untouched = [{}];
        report.asyncFeatures = [await new Promise((resolve) => info.getProductFeatures(untouched, resolve)), untouched];
        const out = {};
        report.conflict = [info.getConflictedProductInfo(out), out.value];
        const first = out.value;
        report.conflictAgain = [info.getConflictedProductInfo(out), out.value === first];
        report.queries = {
          join: info.executeQuery('SELECT Feature.Feature, Component.Component FROM Feature, FeatureComponents, Component ' +
            'WHERE Feature.Feature = FeatureComponents.Feature_ AND FeatureComponents.Component_ = Component.Component'),
          where: info.executeQuery("SELECT Feature, Level, Description FROM Feature WHERE Feature = 'Service'"),
          numbers: info.executeQuery('SELECT Feature, Level FROM Feature WHERE Level > 100'),
          bad: info.executeQuery('SELECT nothing FROM nowhere'),
        };
        // The installed product as the package and its cabinet left it.
        report.installedFile = fs.existsSync(path.join(report.directory, 'engine.txt'));
        const product = addon.query('msi_product_info');
        report.current = [product.isValid(), product.getPackageCode()];
        report.asyncName = await new Promise((resolve) => { report.asyncReturn = info.getProductName(resolve); });
        report.removed = await task('runUninstallProduct', '${guard19}', '');
        report.afterRemoval = [info.getSetupType(), info.getConflictedProductInfo({})];
      });
    `, { cwdPackage: 'osprey_1_9.msi' });

    const { filePath: [filePath, childHostDir], features, queries, ...facts } = report;
    assert.equal(filePath, path.join(childHostDir, 'velkor_installer.msi'));
    // The package's folder is where the older member went: Program Files of
    // the engine's drive root on Linux, C:\Program Files under Wine.
    const programFiles = underWindows ? 'C:\\Program Files' : path.join(hostDir, 'home', 'drive', 'Program Files');
    assert.deepEqual(facts, {
      installed: 0,
      // Setup type 3, UpgradesRelatedProduct: 1.9.0 lies in [1.0.0, 1.10.0).
      facts: ['Osprey Guard', guard110, 'premium', 'RB-7731', 'https://osprey.example/premium?from=1.10.0', '1.10.0', '',
        3, ['osprey.cab']],
      directory: [programFiles, 'Osprey Labs', 'Osprey Guard', ''].join(underWindows ? '\\' : '/'),
      installedFile: true,
      featuresCode: 0,
      featureArray: { length: 6, holes: [4, 5] },
      badFeatures: ['Error: Failed to convert to specified type', 'Error: Failed to convert to Array type'],
      asyncFeatures: [0, [{}]],  // the asynchronous form writes nothing back
      conflict: [true, conflictInfo('Osprey Guard', guard19)],
      conflictAgain: [true, true],  // a filled object receives nothing
      current: [true, packageCode19],  // msi_product_info reads the current directory
      asyncName: 'Osprey Guard',  // and asyncReturn, undefined, is left out
      removed: 0,
      afterRemoval: [1, false],
    });
    // The feature rules have native tests; here the records as script gets them.
    assert.deepEqual(features.map(({ name, parentName, visible }) => [name, parentName, visible]),
      [['Main', '', true], ['Tools', 'Main', true], ['Docs', '', true], ['Service', '', false]]);
    assert.deepEqual(features[2], { name: 'Docs', parentName: '', displayName: 'Manual', description: "The user's manual",
      activeInstallLevel: { condition: 'DOCS="yes"', installLevel: 1 }, defaultInstallLevel: 200, cost: 0, enabled: true,
      visible: true });
    assert.deepEqual(queries.join.map((row) => row.join('/')).sort(), ['Docs/Docs', 'Main/Engine', 'Service/Service', 'Tools/Tools']);
    assert.deepEqual([queries.where, queries.numbers, queries.bad], [[['Service', '1', '']], [['Docs', '200']], []]);
  });

  // A join while a task runs is tested natively (setup_manager_test: ReleasesDuringARunWithoutWaiting).
  test('the same package installed, then an older one after join', () => {
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
        report.removed = await task('runUninstallProduct', '${guard110}', '');
        report.afterRemoval = info.getSetupType();
      });
    `, { cwdPackage: 'osprey_1_10.msi' });

    assert.deepEqual(report, {
      installed: 0,
      same: [4, { found: true, value: conflictInfo('Osprey Guard', guard110, { isTheSame: true }) }],
      joined: true,
      // 1.9.0 over 1.10.0: a downgrade, though "1.9.0" sorts after "1.10.0" as text.
      older: [guard19, 1, { found: true, value: conflictInfo('Osprey Guard', guard110, { isDowngrade: true }) }],
      current: packageCode110,
      removed: 0,
      afterRemoval: 1,
    });
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

    const betaInfo = conflictInfo('Osprey Guard Beta', beta, { isBeta: true });
    // Attributes 4 names neither the product's family nor a beta, so no
    // downgrade whatever the versions (1.10.0 under 2.0.0).
    const toolboxInfo = conflictInfo('Osprey Toolbox', toolbox, { isQarn: false });
    // Of the rows whose families are installed, the first in table order counts.
    const rows = report.order.map(([, attributes]) => attributes).filter((a) => a === '768' || a === '4');
    const [first, second] = rows[0] === '768' ? [betaInfo, toolboxInfo] : [toolboxInfo, betaInfo];
    const { order, ...rest } = report;
    assert.deepEqual(rest, {
      installed: [0, 0],
      setupType: 3,  // the beta's 1.10.0.5 counts as 1.10.0, inside the beta row's inclusive bounds
      both: { found: true, value: first },
      removed: [0, 0],
      one: { found: true, value: second },
      none: { found: false, value: conflictInfo('', '', { isQarn: false }) },
    });
  });

  test('without a package beside the host every method fails; msi_product_info reads the current directory', () => {
    placeBesideHost(null);
    const methods = `
      const args = { getProperty: ['ProductName'], getProductFeatures: [[]], getConflictedProductInfo: [{}],
        executeQuery: ['SELECT * FROM Property'] };
      report.failures = Object.keys(info).map((name) => attempt(() => info[name](...(args[name] || []))));
      const product = addon.query('msi_product_info');
      main(async () => {
        report.current = [product.isValid(), product.getPackageCode()];
        report.asyncValid = await new Promise((resolve) => { report.asyncReturn = product.isValid(resolve); });
      });
    `;
    const missing = runHost(methods, { cwdPackage: 'osprey_1_9.msi' });
    // Every one of the 13 methods; asyncReturn, undefined, is left out of the report.
    assert.deepEqual(missing, { failures: Array(13).fill(missingPackageError), current: [true, packageCode19], asyncValid: true });

    // Beside the host but not in the current directory.
    placeBesideHost('osprey_1_10.msi');
    const elsewhere = runHost(`
      const product = addon.query('msi_product_info');
      report.current = [product.isValid(), product.getPackageCode()];
      report.besideHost = info.getProductCode();
    `);
    assert.deepEqual(elsewhere, { current: [false, ''], besideHost: guard110 });
  });
});

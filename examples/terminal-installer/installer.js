'use strict';
// The terminal installer's user interface. The bootstrapper starts it in a folder
// holding the package (velkor_installer.msi) and a copy of the host executable,
// so it drives the addon as an installer's window would: package facts, the
// preinstall pass, the install with a progress bar, the product's start, the
// removal. Ctrl+C during the install cancels it (1602) and leaves nothing behind.
//
// Options (main.js passes them on): --yes (ask nothing), --keep (leave the product
// installed). Output is plain text when stdout is not a terminal.
const readline = require('node:readline');
const fs = require('node:fs');
const installer = require('../..');

const options = { yes: process.argv.includes('--yes'), keep: process.argv.includes('--keep') };
const tty = Boolean(process.stdout.isTTY);
const out = (line = '') => process.stdout.write(`${line}\n`);
const bold = (text) => (tty ? `\x1b[1m${text}\x1b[0m` : text);

const resultWords = {
  0: 'success',
  1602: 'cancelled by the user',
  1603: 'failed',
  1605: 'the product is not installed',
  1618: 'another installation is running',
  1619: 'the package cannot be opened',
  1638: 'another version of the product is installed',
  3010: 'success; restart the machine to finish',
};
const inWords = (code) => `${resultWords[code] || 'failed'} (${code})`;

const setupTypeWords = [
  'undetermined (a query failed)',
  'new install',
  'the product is installed from another package',
  'upgrades an installed related product',
  'the product is installed from this very package',
];
const kNewInstall = 1;

// A class that this build of the addon does not serve fails here, naming it.
function use(key) {
  try {
    return installer.query(key);
  } catch (error) {
    throw new Error(`this build of the addon does not serve query('${key}'): ${error.message}`);
  }
}

// Ctrl+C: during a task it cancels the task; otherwise the flow stops at the next
// step (removing the product first when it was installed, unless --keep).
// A cancel asked for before the task's engine runs would be dropped when the task
// starts, so it is asked again with each progress report.
const state = { task: null, interrupted: false, cancelling: false };
process.on('SIGINT', () => {
  state.interrupted = true;
  if (state.task === 'removal') {
    note('the removal goes on to its end');
  } else if (state.task) {
    note(`cancelling the ${state.task}`);
    state.cancelling = true;
    use('msi_setup_manager').cancelTask();
  }
});

let barShown = false;
function note(text) {
  if (barShown) process.stdout.write('\n');
  barShown = false;
  out(`  ${text}`);
}

function progressBar(label) {
  let last = '';
  return ({ progress, action, forward }) => {
    const percent = Math.max(0, Math.min(100, progress));
    const direction = forward ? '' : ' (rolling back)';
    action = action.replace(/^Action \d\d:\d\d:\d\d: /, '');  // ActionStart's time stamp
    if (tty) {
      const width = 30;
      const filled = Math.round((percent / 100) * width);
      const columns = process.stdout.columns || 80;
      const line = `  ${label} [${'#'.repeat(filled)}${'.'.repeat(width - filled)}] ${String(percent).padStart(3)}%  ` +
                   `${action}${direction}`;
      process.stdout.write(`\r\x1b[K${line.slice(0, columns - 1)}`);
      barShown = true;
    } else {
      const line = `  ${label} ${String(percent).padStart(3)}%  ${action}${direction}`;
      if (line !== last) out(line);
      last = line;
    }
  };
}

// Runs one task of the setup manager and resolves with its result code.
function runTask(name, start) {
  const manager = use('msi_setup_manager');
  state.task = name;
  return new Promise((resolve) => {
    const showProgress = progressBar(name);
    const handler = {
      progressChanged(data) {
        if (state.cancelling) manager.cancelTask();
        showProgress(data);
      },
      completed(code) {
        if (code === 0) showProgress({ progress: 100, action: 'done', forward: true });
        if (barShown) process.stdout.write('\n');
        barShown = false;
        state.task = null;
        state.cancelling = false;
        resolve(code);
      },
    };
    start(manager, handler);
  });
}

function ask(question) {
  if (options.yes) return Promise.resolve(true);
  if (!process.stdin.isTTY) {
    return Promise.reject(new Error(`no terminal to ask "${question}": use --yes`));
  }
  const prompt = readline.createInterface({ input: process.stdin, output: process.stdout });
  return new Promise((resolve) => {
    prompt.on('SIGINT', () => { prompt.close(); process.emit('SIGINT'); resolve(false); });
    prompt.question(`${question} [Y/n] `, (answer) => {
      prompt.close();
      resolve(!/^\s*n/i.test(answer));
    });
  });
}

function showPackage(facts) {
  const packageInfo = use('msi_package_info');
  const productInfo = use('msi_product_info');
  facts.name = packageInfo.getProductName();
  facts.code = packageInfo.getProductCode();
  out(bold(`${facts.name} ${packageInfo.getProperty('ProductVersion')}`));
  out(`  package:           ${packageInfo.getMsiFilePath()}` +
      (productInfo.isValid() ? `, package code ${productInfo.getPackageCode()}` : ' (not readable here)'));
  out(`  product code:      ${facts.code}`);
  out(`  edition:           ${packageInfo.getEdition() || '(none)'}`);
  out(`  install directory: ${packageInfo.getInstallDirectory()}`);

  const features = [];
  const read = packageInfo.getProductFeatures(features);
  out(`  features:${read === 0 ? '' : ` (reading them failed: ${read})`}`);
  const childrenOf = (parent) => features.filter((feature) => feature.parentName === parent);
  const showTree = (parent, depth) => {
    for (const feature of childrenOf(parent)) {
      const condition = feature.activeInstallLevel.condition
        ? `; level ${feature.activeInstallLevel.installLevel} when ${feature.activeInstallLevel.condition}` : '';
      out(`    ${'  '.repeat(depth)}- ${feature.displayName || feature.name} (${feature.name}), ` +
          `level ${feature.defaultInstallLevel}` +
          `${condition}${feature.visible ? '' : ', hidden'}`);
      showTree(feature.name, depth + 1);
    }
  };
  showTree('', 0);

  facts.setupType = packageInfo.getSetupType();
  out(`  setup type:        ${setupTypeWords[facts.setupType] || facts.setupType}`);
  const conflict = {};
  if (packageInfo.getConflictedProductInfo(conflict)) {
    const info = conflict.value;
    const kinds = [info.isTheSame && 'this very package', info.isBeta && 'a beta',
      info.isQarn && !info.isBeta && 'the same family', info.isDowngrade && 'a newer version'].filter(Boolean);
    out(`  conflicting:       ${info.productName} ${info.productCode}${kinds.length ? ` (${kinds.join(', ')})` : ''}`);
  } else {
    out('  conflicting:       none');
  }
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function showStart(startedFile) {
  const controller = use('installer_controller');
  const code = controller.startProduct();
  if (code !== 0) {
    out(`  startProduct: ${code} (the product did not start)`);
    return false;
  }
  if (!startedFile) {
    out('  startProduct: 0, started');
    return true;
  }
  // The sample product writes a line to the file named by SAMPLE_PRODUCT_STARTED;
  // the file may exist a moment before its line is in it.
  const readStarted = () => (fs.existsSync(startedFile) ? fs.readFileSync(startedFile, 'utf8').trim() : '');
  const deadline = Date.now() + 30000;
  let said = readStarted();
  while (!said && Date.now() < deadline) {
    await sleep(100);
    said = readStarted();
  }
  out(`  startProduct: 0, ${said ? `the product says: ${said}` : 'but the product said nothing within 30 s'}`);
  return true;
}

function leftInstalled() {
  return use('msi_package_info').getSetupType() !== kNewInstall;
}

async function main() {
  const application = use('application');
  application.run();
  use('installer_controller').hideSplashScreen();
  const facts = {};
  showPackage(facts);
  out();

  if (state.interrupted || !(await ask(`Install ${facts.name}?`))) {
    out('Nothing installed.');
    return state.interrupted ? 130 : 1;
  }

  out(bold('Preinstall pass (launch conditions, costing)'));
  const preinstall = await runTask('preinstall', (manager, handler) => manager.runPreinstallTask('', handler));
  out(`  preinstall: ${inWords(preinstall)}`);
  if (preinstall !== 0) return state.interrupted ? 130 : 1;

  out(bold(`Installing ${facts.name}${tty ? ' (Ctrl+C cancels)' : ''}`));
  const install = await runTask('install', (manager, handler) => manager.runSetupTask('', handler));
  out(`  install: ${inWords(install)}`);
  if (install !== 0 && install !== 3010) {
    out(leftInstalled() ? `  ${facts.name} is still installed` : '  nothing installed: the machine is as it was');
    return install === 1602 ? 130 : 1;
  }

  // A failure from here on is shown, and the product is still removed.
  let status = 0;
  if (!state.interrupted) {
    out(bold(`Starting ${facts.name}`));
    try {
      if (!(await showStart(process.env.SAMPLE_PRODUCT_STARTED))) status = 1;
      out(`  machine identifier: ${use('installer_controller').getMachineId()}`);
    } catch (error) {
      out(`  ${error.message}`);
      status = 1;
    }
  }

  if (options.keep) {
    out(`${facts.name} stays installed (--keep); remove it with its product code ${facts.code}.`);
    return state.interrupted ? 130 : status;
  }
  if (!state.interrupted && !(await ask(`Remove ${facts.name} again?`))) {
    out(`${facts.name} stays installed.`);
    return status;
  }
  out(bold(`Removing ${facts.name}`));
  const removal = await runTask('removal', (manager, handler) => manager.runUninstallProduct(facts.code, '', handler));
  out(`  removal: ${inWords(removal)}`);
  out(leftInstalled() ? `  ${facts.name} is still installed` : `  ${facts.name} is no longer installed`);
  if (removal !== 0) status = 1;
  return state.interrupted ? 130 : status;
}

main().then((status) => {
  try {
    use('application').join();
  } finally {
    process.exitCode = status;
  }
}, (error) => {
  if (barShown) process.stdout.write('\n');
  process.stderr.write(`installer: ${error.message}\n`);
  process.exitCode = 1;
});

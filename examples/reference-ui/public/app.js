'use strict';
// The installer's pages: welcome with the package facts, features, install with
// progress and cancel, finish with the product's start and its removal. Every
// native call goes through window.installer (preload.js).
const { call } = window.installer;
const $ = (id) => document.getElementById(id);

const resultWords = {
  0: 'success', 1602: 'cancelled', 1603: 'failed', 1605: 'the product is not installed',
  1618: 'another installation is running', 1619: 'the package cannot be opened', 3010: 'success; restart to finish',
};
const inWords = (code) => `${resultWords[code] || 'failed'} (${code})`;
const setupTypeWords = ['undetermined', 'new install', 'installed from another package',
  'upgrades an installed related product', 'already installed from this package'];

const product = { name: '', code: '', features: [] };
// A cancel asked for before the engine runs would be dropped when the task
// starts, so it is asked again with each progress report.
let cancelling = false;

function showError(error) {
  $('error').textContent = error.message || String(error);
  $('error').hidden = false;
}

function showPage(name) {
  let before = true;
  for (const step of document.querySelectorAll('.steps li')) {
    const current = step.dataset.step === name;
    step.classList.toggle('current', current);
    step.classList.toggle('done', before && !current);
    if (current) before = false;
  }
  for (const page of document.querySelectorAll('.page')) page.hidden = page.id !== name;
}

function setProgress(prefix, percent, action) {
  const value = Math.max(0, Math.min(100, percent));
  $(`${prefix}-fill`).style.width = `${value}%`;
  $(`${prefix}-fill`).parentElement.setAttribute('aria-valuenow', String(value));
  if ($(`${prefix}-percent`)) $(`${prefix}-percent`).textContent = `${value}%`;
  if (action !== undefined && $(`${prefix}-action`)) $(`${prefix}-action`).textContent = action;
}

const actionText = (action) => action.replace(/^Action \d\d:\d\d:\d\d: /, '');

// Runs a setup-manager task; resolves with its result code.
function runTask(method, args, onProgress) {
  return new Promise((resolve, reject) => {
    const handler = {
      progressChanged: (data) => {
        if (cancelling) call('msi_setup_manager', 'cancelTask').catch(showError);
        onProgress(data);
      },
      completed: (code) => resolve(code),
    };
    call('msi_setup_manager', method, ...args, handler).catch(reject);
  });
}

// Welcome: what the package is and how it stands against the machine.
async function loadWelcome() {
  await call('installer_controller', 'hideSplashScreen');  // the window is up
  const info = (method, ...args) => call('msi_package_info', method, ...args);
  product.name = await info('getProductName');
  product.code = await info('getProductCode');
  const conflict = {};
  const conflicting = await info('getConflictedProductInfo', conflict);
  const facts = [
    ['Version', await info('getProperty', 'ProductVersion')],
    ['Publisher', await info('getProperty', 'Manufacturer')],
    ['Edition', await info('getEdition')],
    ['Product code', product.code],
    ['Package code', (await call('msi_product_info', 'isValid'))
      ? await call('msi_product_info', 'getPackageCode') : 'the package cannot be read'],
    ['Install directory', await info('getInstallDirectory')],
    ['Setup type', setupTypeWords[await info('getSetupType')]],
    ['Installed product', conflicting
      ? `${conflict.value.productName} ${conflict.value.productCode}${conflict.value.isTheSame ? ' (this package)' : ''}`
      : 'none'],
  ];
  document.title = `${product.name} installer`;
  $('title').textContent = `${product.name} installer`;
  $('welcome-text').textContent = `This installs ${product.name} on this computer.`;
  for (const [name, value] of facts) {
    const row = $('facts').insertRow();
    row.insertCell().outerHTML = `<th>${name}</th>`;
    row.insertCell().textContent = value;
  }
  const features = [];
  const read = await info('getProductFeatures', features);
  product.features = features.filter(Boolean);
  // A nonzero code still comes with the features read before the failure (a
  // package without a Condition table gives 1615 and every feature).
  if (read !== 0 && product.features.length === 0) throw new Error(`reading the features failed: ${read}`);
  buildFeatureTree();
  $('start-product').textContent = `Start ${product.name}`;
  $('remove-product').textContent = `Remove ${product.name}`;
  $('to-features').disabled = false;
}

// Features: a checkbox per visible feature; a child follows its parent.
function buildFeatureTree() {
  const listFor = (parent) => {
    const list = document.createElement('ul');
    for (const feature of product.features.filter((f) => f.parentName === parent && f.visible)) {
      const item = document.createElement('li');
      const id = `feature-${feature.name}`;
      const condition = feature.activeInstallLevel.condition
        ? `; level ${feature.activeInstallLevel.installLevel} when ${feature.activeInstallLevel.condition}` : '';
      item.innerHTML = `<input type="checkbox" id="${id}"> <label for="${id}"></label><span class="about"></span>`;
      item.querySelector('input').checked = feature.defaultInstallLevel >= 1;
      item.querySelector('input').dataset.feature = feature.name;
      item.querySelector('label').textContent = feature.displayName || feature.name;
      item.querySelector('.about').textContent =
        `${feature.description} (level ${feature.defaultInstallLevel}${condition})`;
      const children = listFor(feature.name);
      if (children.children.length) item.append(children);
      list.append(item);
    }
    return list;
  };
  $('feature-tree').replaceChildren(...listFor('').children);
  $('feature-tree').addEventListener('change', (event) => {
    const nested = event.target.closest('li').querySelectorAll('ul input');
    for (const child of nested) {
      child.disabled = !event.target.checked;
      if (!event.target.checked) child.checked = false;
    }
    $('to-install').disabled = !$('feature-tree').querySelector('input:checked');
  });
}

function installParameters() {
  const boxes = [...$('feature-tree').querySelectorAll('input')];
  const chosen = boxes.filter((box) => box.checked).map((box) => box.dataset.feature);
  return chosen.length === boxes.length ? '' : `ADDLOCAL=${chosen.join(',')}`;
}

// Install: the preinstall pass, then the install with its progress.
async function install() {
  showPage('install');
  $('install-heading').textContent = `Installing ${product.name}`;
  const preinstall = await runTask('runPreinstallTask', [''], () => {});
  if (preinstall !== 0) return finishInstall(preinstall, 'The launch conditions do not hold');
  $('install-phase').textContent = `Copying the files of ${product.name}…`;
  $('cancel-install').disabled = false;
  const code = await runTask('runSetupTask', [installParameters()],
    ({ progress, action }) => setProgress('install', progress, actionText(action)));
  return finishInstall(code);
}

function finishInstall(code, what) {
  cancelling = false;
  $('cancel-install').disabled = true;
  $('to-finish').disabled = false;
  const good = code === 0 || code === 3010;
  if (good) setProgress('install', 100, 'done');
  $('install-phase').textContent = good ? `${product.name} is installed.`
    : code === 1602 ? 'The installation was cancelled; nothing was installed.'
      : `${what || 'The installation failed'}: ${inWords(code)}.`;
  $('install-phase').className = good ? 'outcome-good' : 'outcome-bad';
  $('finish-heading').textContent = good ? `${product.name} is ready` : `${product.name} was not installed`;
  $('finish-text').textContent = good ? 'You can start it now, or remove it again.'
    : `Result: ${inWords(code)}. The computer is as it was.`;
  $('installed-actions').hidden = !good;
  $('to-finish').focus();
}

async function showFinish() {
  showPage('finish');
  if (!$('installed-actions').hidden) {
    $('machine-id').textContent = await call('installer_controller', 'getMachineId');
  }
}

async function startProduct() {
  const code = await call('installer_controller', 'startProduct');
  $('start-result').textContent = code === 0 ? `${product.name} started.` : `It did not start (${code}).`;
  $('start-result').className = code === 0 ? 'outcome-good' : 'outcome-bad';
}

async function removeProduct() {
  $('remove-product').disabled = true;
  $('start-product').disabled = true;
  $('removal-bar').hidden = false;
  const code = await runTask('runUninstallProduct', [product.code, ''], ({ progress }) => setProgress('removal', progress));
  if (code === 0) setProgress('removal', 100);
  $('removal-result').textContent = code === 0 ? `${product.name} was removed.` : `The removal failed: ${inWords(code)}.`;
  $('removal-result').className = code === 0 ? 'outcome-good' : 'outcome-bad';
  if (code === 0) {
    $('finish-heading').textContent = `${product.name} was removed`;
    $('finish-text').textContent = `Nothing of ${product.name} is left on this computer.`;
    $('start-result').textContent = '';
  }
}

async function close() {
  $('close').disabled = true;
  await window.installer.close();
  document.querySelector('.window').innerHTML = '<p class="page">The installer has ended. You can close this tab.</p>';
}

const guarded = (action) => () => action().catch(showError);
$('to-features').addEventListener('click', () => showPage('features'));
$('back-to-welcome').addEventListener('click', () => showPage('welcome'));
$('to-install').addEventListener('click', guarded(install));
$('cancel-install').addEventListener('click', guarded(async () => {
  $('cancel-install').disabled = true;
  $('install-phase').textContent = 'Cancelling…';
  cancelling = true;
  await call('msi_setup_manager', 'cancelTask');
}));
$('to-finish').addEventListener('click', guarded(showFinish));
$('start-product').addEventListener('click', guarded(startProduct));
$('remove-product').addEventListener('click', guarded(removeProduct));
$('close').addEventListener('click', guarded(close));

showPage('welcome');
guarded(loadWelcome)();

'use strict';
// The reference installer page in a real browser (Debian's chromium, driven by
// playwright-core): the page walks through a real install and removal of the
// sample product, and a cancelled install of a larger package. A screenshot of
// each page goes to <build>/reference-ui-screenshots/. Linux lane.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');
const { buildDir } = require('../script/addon_paths');

const startScript = path.join(__dirname, '..', '..', 'examples', 'reference-ui', 'start.js');
const screenshots = path.join(buildDir, 'reference-ui-screenshots');
const browserPath = process.env.CHROMIUM_PATH || '/usr/bin/chromium';
let browser;

before(async () => {
  fs.rmSync(screenshots, { recursive: true, force: true });
  fs.mkdirSync(screenshots, { recursive: true });
  browser = await chromium.launch({ executablePath: browserPath });
});
after(async () => {
  if (browser) await browser.close();
});

// Starts the page's server under the bootstrapper; resolves once it listens.
async function startInstaller(packageFile) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'installer-page-'));
  const files = { url: path.join(dir, 'url.txt'), started: path.join(dir, 'started.txt'), home: path.join(dir, 'home') };
  const args = [startScript, '--url-file', files.url, ...(packageFile ? ['--package', packageFile] : [])];
  // Its own process group, so that a Ctrl+C can reach all of it (start.js, the
  // bootstrapper, the server) as a terminal's would.
  const child = spawn(process.execPath, args, {
    detached: true,
    stdio: ['ignore', 'pipe', 'pipe'],
    env: { ...process.env, INSTALLER_VESK_HOME: files.home, SAMPLE_PRODUCT_STARTED: files.started },
  });
  let output = '';
  child.stdout.on('data', (data) => { output += data; });
  child.stderr.on('data', (data) => { output += data; });
  const exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  const installer = {
    files, exited, output: () => output,
    async end() {
      if (child.exitCode === null) {
        process.kill(-child.pid, 'SIGINT');
        const timer = setTimeout(() => process.kill(-child.pid, 'SIGKILL'), 10000);
        await exited;
        clearTimeout(timer);
      }
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
  try {
    const deadline = Date.now() + 60000;
    while (!fs.existsSync(files.url)) {
      if (Date.now() > deadline || child.exitCode !== null) throw new Error(`the page's server did not start:\n${output}`);
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    installer.url = fs.readFileSync(files.url, 'utf8');
    assert.match(installer.url, /^http:\/\/127\.0\.0\.1:\d+\/$/, 'a loopback address');
  } catch (error) {
    await installer.end();
    throw error;
  }
  return installer;
}

async function openPage(installer) {
  const page = await browser.newPage({ viewport: { width: 800, height: 600 } });
  const problems = [];
  page.on('pageerror', (error) => problems.push(error.message));
  page.on('console', (message) => { if (message.type() === 'error') problems.push(message.text()); });
  await page.goto(installer.url);
  return { page, problems };
}

const snap = (page, name) => page.screenshot({ path: path.join(screenshots, `${name}.png`) });
// When a step does not come: the page's own error box as the failure, and a
// screenshot of the page.
async function waitFor(page, check, what) {
  try {
    await check();
  } catch (error) {
    await snap(page, `failed-${what.replace(/\W+/g, '-')}`).catch(() => {});
    const shown = await page.locator('#error').textContent().catch(() => '');
    throw new Error(`${what}: ${shown || error.message}`);
  }
}

test('welcome, features, install, start and removal of the sample product', { timeout: 180000 }, async () => {
  const installer = await startInstaller();
  try {
    const { page, problems } = await openPage(installer);
    await waitFor(page, () => page.locator('#to-features:enabled').waitFor({ timeout: 30000 }), 'the package facts');
    const facts = await page.locator('#facts').innerText();
    for (const expected of [/Version\s+1\.0\.0/, /Publisher\s+Wren Labs/, /Edition\s+home/,
      /Product code\s+\{6F1D2C3B-8A47-4E59-B0C1-D2E3F4A5B607\}/, /Package code\s+\{7A2B3C4D-5E6F-4A70-8B91-C2D3E4F5A6B7\}/,
      /Install directory\s+.*Wren Labs[\\/]Wren Tasks/, /Setup type\s+new install/, /Installed product\s+none/]) {
      assert.match(facts, expected);
    }
    assert.equal(await page.locator('#title').textContent(), 'Wren Tasks installer');
    await snap(page, '1-welcome');

    await page.click('#to-features');
    const core = page.getByLabel('Wren Tasks', { exact: true });
    const templates = page.getByLabel('Task templates');
    assert.ok(await core.isChecked());
    assert.ok(await templates.isChecked());
    assert.match(await page.locator('#feature-tree').innerText(), /level 0 when EDITION = "lite"/);
    await templates.uncheck();  // installed with ADDLOCAL=Core
    await snap(page, '2-features');

    await page.click('#to-install');
    await waitFor(page, () => page.locator('#to-finish:enabled').waitFor({ timeout: 60000 }), 'the install');
    assert.equal(await page.locator('#install-phase').textContent(), 'Wren Tasks is installed.');
    assert.equal(await page.locator('#install-percent').textContent(), '100%');
    const installDir = path.join(installer.files.home, 'drive', 'Program Files', 'Wren Labs', 'Wren Tasks');
    assert.ok(fs.existsSync(path.join(installDir, 'readme.txt')), 'the Core feature is installed');
    assert.equal(fs.statSync(path.join(installDir, 'wren_tasks_open.run')).mode & 0o111, 0o111, 'the program is executable');
    assert.equal(fs.statSync(path.join(installDir, 'readme.txt')).mode & 0o111, 0, 'a text file is not');
    assert.ok(!fs.existsSync(path.join(installDir, 'templates', 'daily.txt')), 'the feature left out is not');
    await snap(page, '3-install');

    await page.click('#to-finish');
    await waitFor(page, () => page.locator('#machine-id', { hasText: /^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$/ })
      .waitFor({ timeout: 30000 }), 'the machine identifier');
    await page.click('#start-product');
    await waitFor(page, () => page.locator('#start-result', { hasText: 'Wren Tasks started.' }).waitFor({ timeout: 30000 }),
      'the product start');
    const deadline = Date.now() + 10000;
    while (!fs.existsSync(installer.files.started) && Date.now() < deadline) await page.waitForTimeout(100);
    assert.match(fs.readFileSync(installer.files.started, 'utf8'), /Wren Tasks started in .*Wren Tasks/);
    await snap(page, '4-finish');

    await page.click('#remove-product');
    await waitFor(page, () => page.locator('#removal-result', { hasText: 'Wren Tasks was removed.' })
      .waitFor({ timeout: 60000 }), 'the removal');
    assert.ok(!fs.existsSync(path.join(installDir, 'readme.txt')), 'the removal took the files');
    await snap(page, '5-finish-removed');

    await page.click('#close');
    await page.getByText('The installer has ended').waitFor();
    assert.equal(await installer.exited, 0, installer.output());
    assert.deepEqual(problems, []);
    await page.close();
  } finally {
    await installer.end();
  }
});

test('Cancel during the install rolls it back and says so', { timeout: 180000 }, async () => {
  const installer = await startInstaller(path.join(buildDir, 'test', 'packages', 'bulk.msi'));
  try {
    const { page, problems } = await openPage(installer);
    await waitFor(page, () => page.locator('#to-features:enabled').waitFor({ timeout: 30000 }), 'the package facts');
    await page.click('#to-features');
    await page.click('#to-install');
    await waitFor(page, () => page.locator('#install-action:not(:empty)').waitFor({ timeout: 60000 }), 'progress');
    await snap(page, '6-install-progress');
    await page.click('#cancel-install');
    await waitFor(page, () => page.locator('#to-finish:enabled').waitFor({ timeout: 60000 }), 'the cancellation');
    assert.equal(await page.locator('#install-phase').textContent(),
      'The installation was cancelled; nothing was installed.');
    await page.click('#to-finish');
    assert.equal(await page.locator('#finish-heading').textContent(), 'Bulk Notes was not installed');
    assert.ok(await page.locator('#installed-actions').isHidden());
    await snap(page, '7-finish-cancelled');
    const target = path.join(installer.files.home, 'drive', 'Program Files', 'Kestrel', 'Bulk Notes');
    assert.ok(!fs.existsSync(target) || fs.readdirSync(target).length === 0, 'the rollback removed every file');
    await page.click('#close');
    assert.equal(await installer.exited, 0, installer.output());
    assert.deepEqual(problems, []);
    await page.close();
  } finally {
    await installer.end();
  }
});

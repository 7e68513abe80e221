'use strict';
// The reference installer page in Debian's chromium (playwright-core), Linux lane: a real
// install and removal, and a cancelled install; screenshots in <build>/reference-ui-screenshots/.
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');
const { buildDir, packages } = require('../script/addon_paths');

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

// Starts the page's server under the bootstrapper (the sample product or `packageFile`), runs
// `steps(page, files)` from the package facts; Close must then end it with 0 and no script error.
async function onInstallerPage(packageFile, steps) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'installer-page-'));
  const files = { url: path.join(dir, 'url.txt'), started: path.join(dir, 'started.txt'), home: path.join(dir, 'home') };
  const args = [startScript, '--url-file', files.url, ...(packageFile ? ['--package', packageFile] : [])];
  // Its own process group, so that a Ctrl+C reaches all of it as a terminal's would.
  const child = spawn(process.execPath, args, {
    detached: true,
    stdio: ['ignore', 'pipe', 'pipe'],
    env: { ...process.env, INSTALLER_VESK_HOME: files.home, SAMPLE_PRODUCT_STARTED: files.started },
  });
  let output = '';
  for (const stream of [child.stdout, child.stderr]) stream.on('data', (data) => { output += data; });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  try {
    for (let waited = 0; !fs.existsSync(files.url); waited += 100) {
      if (waited > 60000 || child.exitCode !== null) throw new Error(`the page's server did not start:\n${output}`);
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
    const url = fs.readFileSync(files.url, 'utf8');
    assert.match(url, /^http:\/\/127\.0\.0\.1:\d+\/$/, 'a loopback address');
    const page = await browser.newPage({ viewport: { width: 800, height: 600 } });
    const problems = [];
    page.on('pageerror', (error) => problems.push(error.message));
    page.on('console', (message) => { if (message.type() === 'error') problems.push(message.text()); });
    await page.goto(url);
    await waitFor(page, '#to-features:enabled', 'the package facts');
    await steps(page, files);
    await page.click('#close');
    await page.getByText('The installer has ended').waitFor();
    assert.equal(await exited, 0, output);
    assert.deepEqual(problems, []);
    await page.close();
  } finally {
    if (child.exitCode === null) {
      process.kill(-child.pid, 'SIGINT');
      const timer = setTimeout(() => process.kill(-child.pid, 'SIGKILL'), 10000);
      await exited;
      clearTimeout(timer);
    }
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

const snap = (page, name) => page.screenshot({ path: path.join(screenshots, `${name}.png`) });
// Waits for `selector` (with `hasText`); failing, the page's own error box is the failure, with a screenshot.
async function waitFor(page, selector, what, { hasText, timeout = 60000 } = {}) {
  try {
    await page.locator(selector, { hasText }).waitFor({ timeout });
  } catch (error) {
    await snap(page, `failed-${what.replace(/\W+/g, '-')}`).catch(() => {});
    const shown = await page.locator('#error').textContent().catch(() => '');
    throw new Error(`${what}: ${shown || error.message}`);
  }
}

test('welcome, features, install, start and removal of the sample product', { timeout: 180000 }, () =>
  onInstallerPage(undefined, async (page, files) => {
    const facts = await page.locator('#facts').innerText();
    for (const expected of [/Version\s+1\.0\.0/, /Publisher\s+Wren Labs/, /Edition\s+home/,
      /Product code\s+\{6F1D2C3B-8A47-4E59-B0C1-D2E3F4A5B607\}/, /Package code\s+\{7A2B3C4D-5E6F-4A70-8B91-C2D3E4F5A6B7\}/,
      /Install directory\s+.*Wren Labs[\\/]Wren Tasks/, /Setup type\s+new install/, /Installed product\s+none/]) {
      assert.match(facts, expected);
    }
    assert.equal(await page.locator('#title').textContent(), 'Wren Tasks installer');
    await snap(page, '1-welcome');

    await page.click('#to-features');
    const templates = page.getByLabel('Task templates');
    assert.ok(await page.getByLabel('Wren Tasks', { exact: true }).isChecked() && await templates.isChecked());
    assert.match(await page.locator('#feature-tree').innerText(), /level 0 when EDITION = "lite"/);
    await templates.uncheck();  // installed with ADDLOCAL=Core
    await snap(page, '2-features');

    await page.click('#to-install');
    await waitFor(page, '#to-finish:enabled', 'the install');
    assert.deepEqual([await page.locator('#install-phase').textContent(), await page.locator('#install-percent').textContent()],
      ['Wren Tasks is installed.', '100%']);
    const installDir = path.join(files.home, 'drive', 'Program Files', 'Wren Labs', 'Wren Tasks');
    assert.ok(fs.existsSync(path.join(installDir, 'readme.txt')), 'the Core feature is installed');
    assert.equal(fs.statSync(path.join(installDir, 'wren_tasks_open.run')).mode & 0o111, 0o111, 'the program is executable');
    assert.equal(fs.statSync(path.join(installDir, 'readme.txt')).mode & 0o111, 0, 'a text file is not');
    assert.ok(!fs.existsSync(path.join(installDir, 'templates', 'daily.txt')), 'the feature left out is not');
    await snap(page, '3-install');

    await page.click('#to-finish');
    await waitFor(page, '#machine-id', 'the machine identifier',
      { hasText: /^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$/ });
    await page.click('#start-product');
    await waitFor(page, '#start-result', 'the product start', { hasText: 'Wren Tasks started.' });
    for (let i = 0; i < 100 && !fs.existsSync(files.started); ++i) await page.waitForTimeout(100);
    assert.match(fs.readFileSync(files.started, 'utf8'), /Wren Tasks started in .*Wren Tasks/);
    await snap(page, '4-finish');

    await page.click('#remove-product');
    await waitFor(page, '#removal-result', 'the removal', { hasText: 'Wren Tasks was removed.' });
    assert.ok(!fs.existsSync(path.join(installDir, 'readme.txt')), 'the removal took the files');
    await snap(page, '5-finish-removed');
  }));

test('Cancel during the install rolls it back and says so', { timeout: 180000 }, () =>
  onInstallerPage(path.join(packages, 'bulk.msi'), async (page, files) => {
    await page.click('#to-features');
    await page.click('#to-install');
    await waitFor(page, '#install-action:not(:empty)', 'progress');
    await snap(page, '6-install-progress');
    await page.click('#cancel-install');
    await waitFor(page, '#to-finish:enabled', 'the cancellation');
    assert.equal(await page.locator('#install-phase').textContent(),
      'The installation was cancelled; nothing was installed.');
    await page.click('#to-finish');
    assert.equal(await page.locator('#finish-heading').textContent(), 'Bulk Notes was not installed');
    assert.ok(await page.locator('#installed-actions').isHidden());
    await snap(page, '7-finish-cancelled');
    const target = path.join(files.home, 'drive', 'Program Files', 'Kestrel', 'Bulk Notes');
    assert.ok(!fs.existsSync(target) || fs.readdirSync(target).length === 0, 'the rollback removed every file');
  }));

'use strict';
// Every method the addon installs on the objects of query() is declared in
// index.d.ts and listed in docs/api.md, and index.d.ts declares no method the
// object lacks: the two references cannot fall behind the addon.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { installerAddon } = require('./addon_paths');
const { runInFreshProcess } = require('./child_process_helpers');
const { installerKeys: keys } = require('./script_classes');

const root = path.join(__dirname, '..', '..');

// key -> declared method names, from the query overloads and their interfaces.
function declaredMethods() {
  const text = fs.readFileSync(path.join(root, 'index.d.ts'), 'utf8');
  const interfaces = new Map();
  for (const [, name, body] of text.matchAll(/^export interface (\w+) \{\n([\s\S]*?)^\}/gm)) {
    interfaces.set(name, new Set([...body.matchAll(/^ {2}(\w+)\(/gm)].map((match) => match[1])));
  }
  const byKey = new Map();
  for (const [, key, name] of text.matchAll(/^export function query\(key: '(\w+)'\): (\w+);/gm)) {
    byKey.set(key, interfaces.get(name));
  }
  return byKey;
}

// The section of docs/api.md whose heading names the key, up to the next
// heading of the same or a higher level.
function referenceSection(key) {
  const lines = fs.readFileSync(path.join(root, 'docs', 'api.md'), 'utf8').split('\n');
  const start = lines.findIndex((line) => /^#+ /.test(line) && new RegExp(`\\b${key}\\b`).test(line));
  assert.ok(start >= 0, `docs/api.md has a section headed with ${key}`);
  const level = /^#+/.exec(lines[start])[0].length;
  const end = lines.findIndex((line, i) => i > start && /^#+ /.test(line) && /^#+/.exec(line)[0].length <= level);
  return lines.slice(start + 1, end < 0 ? undefined : end).join('\n');
}

const declared = declaredMethods();
test('query() is declared for the eight keys and no other', () => {
  assert.deepEqual([...declared.keys()].sort(), [...keys].sort());
});

// Read in a process of their own: under Wine, when the test process itself
// loaded msi.dll, the test runner went on waiting after every test had ended.
const { report: served } = runInFreshProcess(installerAddon, `
  for (const key of ${JSON.stringify(keys)}) {
    try {
      const object = addon.query(key);
      report[key] = { methods: Object.getOwnPropertyNames(object).filter((name) => typeof object[name] === 'function') };
    } catch (error) {
      report[key] = { error: error.message };
    }
  }`);

for (const key of keys) {
  test(`${key}: every method is declared in index.d.ts and listed in docs/api.md`, () => {
    const { methods, error } = served[key];
    assert.equal(error, undefined, `query('${key}') is served by this build`);
    const names = declared.get(key);
    assert.deepEqual(methods.filter((name) => !names.has(name)), [], 'methods missing from index.d.ts');
    assert.deepEqual([...names].filter((name) => !methods.includes(name)), [], 'index.d.ts declares methods the object lacks');
    const section = referenceSection(key);
    assert.deepEqual(methods.filter((name) => !new RegExp(`\\b${name}\\b`).test(section)), [],
      `methods missing from the ${key} section of docs/api.md`);
  });
}

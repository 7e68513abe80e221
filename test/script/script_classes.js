'use strict';
// The classes query() serves, for the tools calling every method (bridge fuzzer,
// stress, soak); the keys are listed here only, and a key not served is skipped.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const installerKeys = ['application', 'trace_helper', 'debug_configuration', 'tracer_controller',
  'msi_product_info', 'msi_package_info', 'msi_setup_manager', 'installer_controller'];
const testAddonKeys = ['probe', 'other', 'reporter', 'gate', 'tracer_controller', 'broken'];

// Methods that act on the machine: only on Linux under INSTALLER_VESK_REBOOT_COMMAND=true.
const machineChanging = /reboot|restart|shut_?down|power_?off|log_?off/i;
const mayCall = (method) => !machineChanging.test(method) ||
  (process.platform === 'linux' && process.env.INSTALLER_VESK_REBOOT_COMMAND === 'true');

// Calls made while the tools wait for callbacks, to undo what a class keeps waiting on.
const settlers = { gate: ['open'], reporter: ['releaseLate', 'dropKept'] };

// Methods that wait by design: never called synchronously, which would block the loop thread.
const waiting = { gate: ['pass', 'meet'] };
const waitsByDesign = (key, method) => (waiting[key] || []).includes(method);

// [{ key, object, methods }] for each key the addon serves, methods by name.
function discoverClasses(addon, keys) {
  const classes = [];
  for (const key of keys) {
    let object;
    try { object = addon.query(key); } catch (error) {
      if (!(error instanceof Error)) throw error;
      continue;  // not served, or its construction fails
    }
    const methods = Object.keys(object).filter((name) => typeof object[name] === 'function' && mayCall(name));
    classes.push({ key, object, methods });
  }
  return classes;
}

// The tool's process works in a temporary folder with its own INSTALLER_VESK_HOME and a
// harmless restart command, set before any addon is loaded: nothing it calls writes outside.
function isolate(prefix) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), prefix));
  process.env.INSTALLER_VESK_HOME = path.join(dir, 'home');
  process.env.INSTALLER_VESK_REBOOT_COMMAND = 'true';
  process.chdir(dir);
  return { dir, cleanUp() { process.chdir(os.tmpdir()); fs.rmSync(dir, { recursive: true, force: true }); } };
}

// The value of --name on the command line, a number if `fallback` is one.
function option(name, fallback) {
  const index = process.argv.indexOf(`--${name}`);
  if (index < 0) return fallback;
  return typeof fallback === 'number' ? Number(process.argv[index + 1]) : process.argv[index + 1];
}

// discoverClasses over the installer addon and the test addon, once the process is isolated.
function discoverBothAddons() {
  const { bridgeTestAddon, installerAddon } = require('./addon_paths');
  return [[installerAddon, installerKeys], [bridgeTestAddon, testAddonKeys]]
    .flatMap(([file, keys]) => discoverClasses(require(file), keys));
}

function settle(classes) {
  for (const { key, object } of classes) {
    for (const method of settlers[key] || []) if (typeof object[method] === 'function') object[method]();
  }
}

// Accepted by every parameter kind but an array of records: no own property, so the empty
// scalar or a record's defaults, and a quiet progress sink by its inherited members.
const sinkMembers = { progressChanged() {}, completed() {} };
const anyValue = () => Object.create(sinkMembers);

// A value that fails every conversion but a progress sink's, where it is a quiet sink.
const refusedValue = () => Object.assign(Object.create(sinkMembers), { value: undefined });

// The number of declared parameters: fewer are refused with "Index is out of range" before
// anything is read; refusedValue() stops the call at its conversion unless all are sinks.
function parameterCount(object, method) {
  for (let count = 0; count <= 8; ++count) {
    try {
      object[method](...Array.from({ length: count }, refusedValue));
      return count;
    } catch (error) {
      if (!(error instanceof Error) || error.message !== 'Index is out of range') return count;
    }
  }
  return null;
}

// A maker of arguments that convert (anyValue() or [] each), or null: found by trying the
// async form, which throws at the call when a conversion fails; `callback` gets the trials.
function findArguments(object, method, callback) {
  const count = parameterCount(object, method);
  if (count === null) return null;
  for (let arrays = 0; arrays < 2 ** count; ++arrays) {
    const make = () => Array.from({ length: count }, (_, i) => ((arrays >> i) & 1 ? [] : anyValue()));
    try {
      object[method](...make(), callback);
      return make;
    } catch (error) {
      if (!(error instanceof Error)) throw error;
    }
  }
  return null;
}

module.exports = {
  isolate, option, installerKeys, testAddonKeys, mayCall, waitsByDesign, discoverClasses, discoverBothAddons, settle, anyValue,
  parameterCount, findArguments,
};

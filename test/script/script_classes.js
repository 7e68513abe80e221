'use strict';
// The classes that query() serves, for the tools that call every method of
// every class: the bridge fuzzer, the thread-sanitizer stress and the soak.
// The keys are listed here and nowhere else. A key the addon does not serve
// (yet) answers "Failed to query object" and is skipped, so a class is picked
// up as soon as the addon serves it.

const installerKeys = ['application', 'trace_helper', 'debug_configuration', 'tracer_controller',
  'msi_product_info', 'msi_package_info', 'msi_setup_manager', 'installer_controller'];
const testAddonKeys = ['probe', 'other', 'reporter', 'gate', 'tracer_controller', 'broken'];

// Methods that act on the machine itself. They are called only on Linux with
// the harmless INSTALLER_VESK_REBOOT_COMMAND=true in force, never under Windows.
const machineChanging = /reboot|restart|shut_?down|power_?off|log_?off/i;

const mayCall = (method) => !machineChanging.test(method) ||
  (process.platform === 'linux' && process.env.INSTALLER_VESK_REBOOT_COMMAND === 'true');

// Calls that undo what a class keeps waiting on its own: a closed gate, sinks
// kept or waiting for a release. Made while the tools wait for callbacks.
const settlers = { gate: ['open'], reporter: ['releaseLate', 'dropKept'] };

// Methods that wait by design (on a closed gate, for other callers): never
// called synchronously by the tools, which would then wait on the loop thread.
const waiting = { gate: ['pass', 'meet'] };
const waitsByDesign = (key, method) => (waiting[key] || []).includes(method);

// [{ key, object, methods }] for each key the addon serves, methods by name.
function discoverClasses(addon, keys) {
  const classes = [];
  for (const key of keys) {
    let object;
    try {
      object = addon.query(key);
    } catch (error) {
      if (!(error instanceof Error)) throw error;
      continue;  // not served, or its construction fails
    }
    const methods = Object.keys(object).filter((name) => typeof object[name] === 'function' && mayCall(name));
    classes.push({ key, object, methods });
  }
  return classes;
}

// discoverClasses over the installer addon and the test addon; load them only
// once the process is isolated (isolated_run.js).
function discoverBothAddons() {
  const { bridgeTestAddon, installerAddon } = require('./addon_paths');
  return [[installerAddon, installerKeys], [bridgeTestAddon, testAddonKeys]]
    .flatMap(([file, keys]) => discoverClasses(require(file), keys));
}

function settle(classes) {
  for (const { key, object } of classes) {
    for (const method of settlers[key] || []) {
      if (typeof object[method] === 'function') object[method]();
    }
  }
}

// A value every parameter kind but an array of records accepts: no "value"
// and no own property, so it converts to the empty scalar and to a record's
// defaults, and its inherited members make it a quiet progress sink.
const sinkMembers = { progressChanged() {}, completed() {} };
const anyValue = () => Object.create(sinkMembers);

// A value that fails every conversion but a progress sink's, where it is a quiet sink.
const refusedValue = () => Object.assign(Object.create(sinkMembers), { value: undefined });

// The number of declared parameters: fewer arguments are refused with "Index
// is out of range" before anything is read, and refusedValue() stops the call
// at its conversion unless every parameter is a progress sink (or there is none).
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

// Arguments that convert for `method`: each parameter gets anyValue() or, for
// an array of records, []. Found by trying the asynchronous form, which throws
// at the call when a conversion fails; `callback` gets the trials that ran.
// Returns a function making fresh arguments, or null when none convert.
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
  installerKeys, testAddonKeys, mayCall, waitsByDesign, discoverClasses, discoverBothAddons, settle, anyValue,
  parameterCount, findArguments,
};

'use strict';
// The main-process half of the page's bridge to the addon. In Electron this is
// what ipcMain handlers would do for the preload script (public/preload.js); here
// the messages come over a WebSocket. A message names a class, a method and its
// arguments:
//   {id, key, method, args}  ->  {id, result, args}  or  {id, error}
// where a handler argument arrives as {$handler: true} and is answered with
//   {id, event: 'progressChanged', data}  and  {id, event: 'completed', code}.
// A call that passes an out-parameter (an empty object) or an array runs in the
// synchronous form, so that the addon can write into it, and the written
// arguments go back; any other call runs in the asynchronous form.
const installer = require('../..');

const kKeys = new Set(['application', 'trace_helper', 'debug_configuration', 'tracer_controller',
  'msi_product_info', 'msi_package_info', 'msi_setup_manager', 'installer_controller']);

function isHandlerMarker(value) {
  return value !== null && typeof value === 'object' && value.$handler === true;
}

function writesBack(value) {
  return Array.isArray(value) ||
    (value !== null && typeof value === 'object' && !isHandlerMarker(value) && Object.keys(value).length === 0);
}

// The method bound to its object (the addon refuses any other receiver), or an
// Error saying why there is none. Only the eight keys
// and their objects' own function members are reachable.
function lookUp(key, method) {
  if (!kKeys.has(key)) return new Error(`unknown class ${key}`);
  let object;
  try {
    object = installer.query(key);
  } catch (error) {
    return new Error(`this build of the addon does not serve query('${key}'): ${error.message}`);
  }
  if (typeof method !== 'string' || !Object.prototype.hasOwnProperty.call(object, method) ||
      typeof object[method] !== 'function') {
    return new Error(`${key} has no method ${method}`);
  }
  return object[method].bind(object);
}

// Serves one connection: takes the page's parsed messages; `send(message)` posts
// one to the page.
function createBridge(send) {
  return function onMessage(message) {
    const { id, key, method } = message;
    const args = Array.isArray(message.args) ? message.args : [];
    const fail = (error) => send({ id, error: error.message });
    const target = lookUp(key, method);
    if (target instanceof Error) return fail(target);

    const nativeArgs = args.map((arg) => (isHandlerMarker(arg) ? {
      progressChanged(data) { send({ id, event: 'progressChanged', data }); },
      completed(code) { send({ id, event: 'completed', code }); },
    } : arg));
    try {
      if (args.some(writesBack)) {
        const result = target(...nativeArgs);
        send({ id, result, args: nativeArgs.map((arg, i) => (writesBack(args[i]) ? arg : null)) });
      } else {
        target(...nativeArgs, (result) => (result instanceof Error ? fail(result) : send({ id, result })));
      }
    } catch (error) {
      fail(error);
    }
  };
}

module.exports = { createBridge };

'use strict';
// The page's half of the bridge: what an Electron preload script would expose
// with contextBridge.exposeInMainWorld('installer', { call, close }), here over a
// WebSocket to server.js. `call` mirrors the addon's methods with a promise:
//
//   await installer.call('msi_package_info', 'getProductName')          // 'Wren Tasks'
//   const features = [];
//   await installer.call('msi_package_info', 'getProductFeatures', features)  // fills features
//   await installer.call('msi_setup_manager', 'runSetupTask', '', { progressChanged, completed })
//
// Out-parameters ({}) and arrays are filled as the addon fills them; a handler
// object's members are called as the addon would call them. A failure rejects
// with the addon's error text.
(() => {
  const socket = new WebSocket(`ws://${location.host}/bridge`);
  const opened = new Promise((resolve, reject) => {
    socket.addEventListener('open', resolve, { once: true });
    socket.addEventListener('error', () => reject(new Error('the installer is not running')), { once: true });
  });
  const pending = new Map();   // id -> {resolve, reject, args}
  const handlers = new Map();  // id -> handler object
  let nextId = 1;
  let onClosed = null;

  const isHandler = (value) => value !== null && typeof value === 'object' &&
    typeof value.progressChanged === 'function' && typeof value.completed === 'function';

  function copyBack(target, written) {
    if (Array.isArray(target) && Array.isArray(written)) {
      target.splice(0, target.length, ...written);
    } else if (target !== null && typeof target === 'object' && written !== null && typeof written === 'object') {
      Object.assign(target, written);
    }
  }

  socket.addEventListener('message', (event) => {
    const message = JSON.parse(event.data);
    if (message.type === 'closed') {
      if (onClosed) onClosed();
      return;
    }
    if (message.event) {
      const handler = handlers.get(message.id);
      if (!handler) return;
      if (message.event === 'completed') {
        handlers.delete(message.id);
        handler.completed(message.code);
      } else {
        handler.progressChanged(message.data);
      }
      return;
    }
    const call = pending.get(message.id);
    if (!call) return;
    pending.delete(message.id);
    if ('error' in message) {
      handlers.delete(message.id);
      call.reject(new Error(message.error));
      return;
    }
    (message.args || []).forEach((written, i) => copyBack(call.args[i], written));
    call.resolve(message.result);
  });
  socket.addEventListener('close', () => {
    for (const call of pending.values()) call.reject(new Error('the installer has ended'));
    pending.clear();
  });

  async function call(key, method, ...args) {
    await opened;
    const id = nextId++;
    const handler = args.find(isHandler);
    if (handler) handlers.set(id, handler);
    const wire = args.map((arg) => (isHandler(arg) ? { $handler: true } : arg));
    return new Promise((resolve, reject) => {
      pending.set(id, { resolve, reject, args });
      socket.send(JSON.stringify({ id, key, method, args: wire }));
    });
  }

  // Ends the installer (application.join on the other side).
  async function close() {
    await opened;
    return new Promise((resolve) => {
      onClosed = resolve;
      socket.send(JSON.stringify({ type: 'close' }));
    });
  }

  window.installer = Object.freeze({ call, close });
})();

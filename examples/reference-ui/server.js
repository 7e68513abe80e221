'use strict';
// The reference installer page's host, started under the bootstrapper (start.js)
// in the place of Electron's main process: it holds the addon (application.run at
// its start, application.join at its end), serves the page on a loopback address,
// and carries the page's calls over a WebSocket (bridge-main.js). It ends when the
// page closes the installer, or on Ctrl+C.
//
//   server.js [--port N] [--url-file FILE]    (port 0, the default: any free port)
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const { WebSocketServer } = require('ws');
const installer = require('../..');
const { createBridge } = require('./bridge-main');

function option(name, fallback) {
  const index = process.argv.indexOf(name);
  return index > 0 && index + 1 < process.argv.length ? process.argv[index + 1] : fallback;
}

const publicDir = path.join(__dirname, 'public');
const files = new Map([
  ['/', ['index.html', 'text/html; charset=utf-8']],
  ['/style.css', ['style.css', 'text/css; charset=utf-8']],
  ['/preload.js', ['preload.js', 'text/javascript; charset=utf-8']],
  ['/app.js', ['app.js', 'text/javascript; charset=utf-8']],
]);

const httpServer = http.createServer();
const sockets = new WebSocketServer({ noServer: true, maxPayload: 64 * 1024 });
let address = null;  // "127.0.0.1:port" once listening

// Only this page, addressed by its loopback address, may reach the addon: the Host
// check stops a DNS-rebound name, the Origin check other sites' pages.
const fromOurPage = (request) => request.headers.host === address &&
  (request.headers.origin === undefined || request.headers.origin === `http://${address}`);

httpServer.on('request', (request, response) => {
  if (request.url === '/favicon.ico') {
    response.writeHead(204).end();
    return;
  }
  const file = files.get(request.url);
  if (!fromOurPage(request) || request.method !== 'GET' || !file) {
    response.writeHead(404, { 'Content-Type': 'text/plain' }).end('not found\n');
    return;
  }
  response.writeHead(200, {
    'Content-Type': file[1],
    'Cache-Control': 'no-store',
    'Content-Security-Policy': `default-src 'self'; connect-src ws://${address}`,
  });
  response.end(fs.readFileSync(path.join(publicDir, file[0])));
});

httpServer.on('upgrade', (request, socket, head) => {
  if (request.url !== '/bridge' || !fromOurPage(request) || request.headers.origin === undefined) {
    socket.destroy();
    return;
  }
  sockets.handleUpgrade(request, socket, head, (connection) => {
    const send = (message) => {
      if (connection.readyState === connection.OPEN) connection.send(JSON.stringify(message));
    };
    const bridge = createBridge(send);
    connection.on('message', (data) => {
      let message;
      try {
        message = JSON.parse(data.toString());
      } catch {
        return;
      }
      if (message.type === 'close') {
        send({ type: 'closed' });
        shutDown(0);
      } else {
        bridge(message);
      }
    });
  });
});

let stopping = false;
function shutDown(status) {
  if (stopping) return;
  stopping = true;
  try {
    installer.query('application').join();
  } catch (error) {
    process.stderr.write(`reference UI: application.join: ${error.message}\n`);
  }
  for (const client of sockets.clients) client.close();
  httpServer.close(() => process.exit(status));
  setTimeout(() => process.exit(status), 2000).unref();
}
process.on('SIGINT', () => shutDown(130));

// Once per process, as Electron's main process would at its start: a second run
// would prefix the log folder to the log names again.
try {
  installer.query('application').run();
} catch (error) {
  process.stderr.write(`reference UI: application.run: ${error.message}\n`);
}

httpServer.listen(Number(option('--port', '0')), '127.0.0.1', () => {
  address = `127.0.0.1:${httpServer.address().port}`;
  const url = `http://${address}/`;
  process.stdout.write(`Reference installer page: ${url}\n`);
  const urlFile = option('--url-file', null);
  if (urlFile) {  // whole or not at all, for whoever waits for it
    fs.writeFileSync(`${urlFile}.part`, url);
    fs.renameSync(`${urlFile}.part`, urlFile);
  }
});

'use strict';
// Starts the reference installer page: server.js under the bootstrapper program
// with the sample product (or --package FILE), as ../launcher.js describes. Open
// the address it prints in a browser; the page's Close button ends it.
//
//   node examples/reference-ui/start.js [--package FILE] [--port N] [--url-file FILE]
const path = require('node:path');
const { exitStatus, missingPiece, samplePackage, startUnderBootstrapper } = require('../launcher');

const usage = 'usage: start.js [--package FILE] [--port N] [--url-file FILE]\n';
const options = { package: samplePackage, serverArgs: [] };
const argv = process.argv.slice(2);
for (let i = 0; i < argv.length; ++i) {
  if (argv[i] === '--package' && i + 1 < argv.length) options.package = path.resolve(argv[++i]);
  else if (argv[i] === '--port' && i + 1 < argv.length) options.serverArgs.push('--port', argv[++i]);
  else if (argv[i] === '--url-file' && i + 1 < argv.length) options.serverArgs.push('--url-file', path.resolve(argv[++i]));
  else {
    process.stderr.write(usage);
    process.exit(2);
  }
}
const missing = missingPiece(options.package);
if (missing) {
  process.stderr.write(`reference UI: ${missing}\n`);
  process.exit(1);
}

const run = startUnderBootstrapper({
  script: path.join(__dirname, 'server.js'), args: options.serverArgs, packageFile: options.package,
});
process.on('SIGINT', () => {});  // the server ends on it
run.child.on('exit', (code, signal) => {
  process.stdout.write(`${run.finish()}\n`);
  process.exitCode = exitStatus(code, signal);
});

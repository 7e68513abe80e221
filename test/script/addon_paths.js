'use strict';
// Locates the built addons, programs and test packages for the running
// platform (build/<platform>-<arch>/).
const path = require('node:path');

const buildDir = path.resolve(process.env.INSTALLER_BUILD_DIR ||
  path.join(__dirname, '..', '..', 'build', `${process.platform}-${process.arch}`));

module.exports = {
  buildDir,
  bridgeTestAddon: path.join(buildDir, 'bridge_test.node'),
  installerAddon: path.join(buildDir, 'installer_vesk.node'),
  bootstrapper: path.join(buildDir, 'tools', 'bootstrapper', process.platform === 'win32' ? 'bootstrapper.exe' : 'bootstrapper'),
  packages: path.join(buildDir, 'test', 'packages'),
};

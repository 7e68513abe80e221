'use strict';
// Locates the built addons for the running platform (build/<platform>-<arch>/).
const path = require('node:path');

const buildDir = process.env.INSTALLER_BUILD_DIR ||
  path.join(__dirname, '..', '..', 'build', `${process.platform}-${process.arch}`);

module.exports = {
  buildDir,
  bridgeTestAddon: path.join(buildDir, 'bridge_test.node'),
  installerAddon: path.join(buildDir, 'installer_vesk.node'),
};

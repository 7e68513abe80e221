// Every method of the addon, in both forms, as a TypeScript user interface
// would call them. Type-checked in CI (scripts/test-linux.sh: tsc -p
// examples/typescript); nothing here runs. The @ts-expect-error lines are
// calls that the declarations must refuse.
import installer = require('../..');
import type { InstalledProductInfo, Out, ProductFeature, ProgressData, ProgressHandler, SetupType } from '../..';

function report(label: string, result: unknown): void {
  if (result instanceof Error) throw new Error(`${label}: ${result.message}`);
}

function handlerFor(label: string, done: (code: number) => void): ProgressHandler {
  return {
    progressChanged({ progress, action, forward }: ProgressData) {
      report(label, `${progress}% ${action}${forward ? '' : ' (rolling back)'}`);
    },
    completed(code: number) { done(code); },
  };
}

export function traceObjects(): void {
  const tracer = installer.query('tracer_controller');
  const opened: number = tracer.turnOnTraces();
  tracer.turnOnTraces((result) => report('turnOnTraces', result));
  tracer.setTraceLevel(800);
  tracer.setTraceLevel({ value: 800 }, (result) => report('setTraceLevel', result));
  const open: Out<boolean> = {};
  const level: Out<number> = {};
  tracer.getTraceState(open, level);
  tracer.getTraceState({}, {}, (result) => report('getTraceState', result));
  const trace = installer.query('trace_helper');
  trace.trace(`log open ${open.value === true}, level ${level.value ?? 0}, opened ${opened}`, 700);
  trace.trace('asynchronous', 700, (result) => report('trace', result));
  const isDebug: Out<boolean> = {};
  installer.query('debug_configuration').isDebug(isDebug);
  installer.query('debug_configuration').isDebug({}, (result) => report('isDebug', result));
  tracer.turnOffTraces();
  tracer.turnOffTraces((result) => report('turnOffTraces', result));
  // @ts-expect-error the level is a number
  trace.trace('text', '700');
}

export function packageFacts(): string[] {
  const productInfo = installer.query('msi_product_info');
  const valid: boolean = productInfo.isValid();
  productInfo.isValid((result) => report('isValid', result));
  const packageCode: string = productInfo.getPackageCode();
  productInfo.getPackageCode((result) => report('getPackageCode', result));

  const pkg = installer.query('msi_package_info');
  const features: ProductFeature[] = [];
  const readResult: number = pkg.getProductFeatures(features);
  pkg.getProductFeatures([], (result) => report('getProductFeatures', result));
  const conflict: Out<InstalledProductInfo> = {};
  const found: boolean = pkg.getConflictedProductInfo(conflict);
  pkg.getConflictedProductInfo({}, (result) => report('getConflictedProductInfo', result));
  const setupType: SetupType = pkg.getSetupType();
  pkg.getSetupType((result) => report('getSetupType', result));
  const rows: string[][] = pkg.executeQuery('SELECT `Property`, `Value` FROM `Property`');
  pkg.executeQuery({ value: 'SELECT `Feature` FROM `Feature`' }, (result) => report('executeQuery', result));
  pkg.getProductName((result) => report('getProductName', result));
  pkg.getInstallDirectory((result) => report('getInstallDirectory', result));
  pkg.getMsiFilePath((result) => report('getMsiFilePath', result));
  pkg.getProductCode((result) => report('getProductCode', result));
  pkg.getEdition((result) => report('getEdition', result));
  pkg.getProperty('ProductVersion', (result) => report('getProperty', result));
  pkg.getCabFileNames((result) => report('getCabFileNames', result));
  pkg.getRebrandingCode((result) => report('getRebrandingCode', result));
  pkg.getPremiumLink((result) => report('getPremiumLink', result));
  // @ts-expect-error getSetupType takes no name
  pkg.getSetupType('ProductCode');
  // @ts-expect-error the answer arrives in an out-parameter, not as the result
  const wrong: InstalledProductInfo = pkg.getConflictedProductInfo({});

  return [
    pkg.getProductName(), pkg.getProductCode(), pkg.getEdition(), pkg.getInstallDirectory(), pkg.getMsiFilePath(),
    pkg.getProperty({ value: 'ProductVersion' }), pkg.getRebrandingCode(), pkg.getPremiumLink(),
    ...pkg.getCabFileNames(), packageCode, String(valid), String(readResult), String(found), String(setupType),
    ...features.map((feature) => `${feature.name} ${feature.activeInstallLevel.installLevel}`),
    conflict.value ? conflict.value.productName : '', String(rows.length), String(wrong),
  ];
}

export function installAndRemove(productCode: string, cancelAfter: (progress: number) => boolean): void {
  const application = installer.query('application');
  const ran: boolean = application.run();
  application.run((result) => report('run', result));
  const setup = installer.query('msi_setup_manager');
  setup.initLog('setup.MSI.log', 3);
  setup.initLog({ value: '' }, 1, (result) => report('initLog', result));
  const flags: number = setup.getMsiLogFlags(3);
  setup.getMsiLogFlags(1, (result) => report('getMsiLogFlags', result));
  setup.runPreinstallTask('', handlerFor('preinstall', (preinstall) => {
    if (preinstall !== 0) return;
    setup.runSetupTask('ADDLOCAL=ALL', {
      progressChanged(data) { if (cancelAfter(data.progress)) setup.cancelTask(); },
      completed(code) {
        if (code !== 0) return;
        setup.runUninstallProduct(productCode, '', handlerFor('removal', () => {
          application.join();
          application.join((result) => report('join', result));
        }), (result) => report('runUninstallProduct', result));
      },
    }, (result) => report('runSetupTask', result));
  }));
  setup.runPreinstallTask('', handlerFor('again', () => undefined), (result) => report('runPreinstallTask', result));
  setup.runSetupTask('', handlerFor('again', () => undefined));
  setup.runUninstallProduct(productCode, '', handlerFor('again', () => undefined));
  setup.cancelTask((result) => report('cancelTask', result));
  report('flags', `${ran} ${flags}`);
  // @ts-expect-error a handler needs completed()
  setup.runSetupTask('', { progressChanged() {} });
}

export function machineServices(restart: boolean): string {
  const controller = installer.query('installer_controller');
  const started: number = controller.startProduct();
  controller.startProduct((result) => report('startProduct', result));
  const machineId: string = controller.getMachineId();
  controller.getMachineId((result) => report('getMachineId', result));
  controller.getCommandLine((result) => report('getCommandLine', result));
  controller.getWindowsVersionProperty((result) => report('getWindowsVersionProperty', result));
  controller.getCurrentPath((result) => report('getCurrentPath', result));
  controller.fixBeta((result) => report('fixBeta', result));
  controller.hideSplashScreen((result) => report('hideSplashScreen', result));
  const fixed: number = controller.fixBeta();
  const hidden: number = controller.hideSplashScreen();
  if (restart) {
    controller.reboot();
    controller.reboot((result) => report('reboot', result));
  }
  // @ts-expect-error there is no such class
  installer.query('msi_package');
  return [controller.getCommandLine(), controller.getWindowsVersionProperty(), controller.getCurrentPath(),
          machineId, started, fixed, hidden].join(' ');
}

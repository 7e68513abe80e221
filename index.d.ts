// Type declarations of installer_vesk: the function `query` and the eight script
// classes it serves, with their records. docs/api.md is the same reference in
// prose; test/script/api_reference.test.js checks that both list every method
// the addon installs.
//
// Conventions every method follows:
// - Synchronous form: call with exactly the declared arguments; the result is returned.
// - Asynchronous form: add one more argument, a function. The call returns
//   undefined, runs on a worker thread, and the function is later called once on
//   the loop thread with the result, or with an Error carrying the text the
//   synchronous call would have thrown. Out-parameters are not written back in
//   this form.
// - An input may be given plainly or boxed as `{ value: x }`; there is no
//   coercion between kinds ("7" is not a number).
// - An out-parameter is an empty object; a synchronous call gives it a `value`.
//   An object that already has properties is read as input and receives nothing.
// - A native failure throws a plain Error with the failure's text; a method called
//   on another object throws the TypeError "Illegal invocation".

/** A value given plainly or boxed. */
export type Input<T> = T | { value: T };

/** An out-parameter: pass `{}`; after a synchronous call `value` holds the answer. */
export interface Out<T> {
  value?: T;
}

/** Receives the result of an asynchronous call, or the Error it failed with. */
export type Callback<T> = (result: T | Error) => void;

/**
 * How the package stands against the installed products (`getSetupType`):
 * 0 undetermined (a query failed), 1 new install, 2 the same product is installed
 * from another package, 3 the package upgrades an installed related product,
 * 4 the product is installed from this very package.
 */
export type SetupType = 0 | 1 | 2 | 3 | 4;

/** The Condition-table entry applied to a feature. */
export interface ConditionalInstallLevel {
  condition: string;
  installLevel: number;
}

/** One feature of the package, in Feature-table order. */
export interface ProductFeature {
  /** Feature key. */
  name: string;
  /** Parent feature key; empty for a root feature. */
  parentName: string;
  displayName: string;
  description: string;
  activeInstallLevel: ConditionalInstallLevel;
  /** Feature.Level. */
  defaultInstallLevel: number;
  /** Always 0. */
  cost: number;
  /** True for package features. */
  enabled: boolean;
  /** Feature.Display is not 0. */
  visible: boolean;
}

/** An installed product that the package's Upgrade table names. */
export interface InstalledProductInfo {
  productName: string;
  productCode: string;
  /** The Upgrade row's Attributes is exactly 768: a beta of the product. */
  isBeta: boolean;
  /** The Upgrade row's Attributes is exactly 768 or exactly 1: the product's own family. */
  isQarn: boolean;
  /** The package is the installed one (setup type 4). */
  isTheSame: boolean;
  /** The package's version is older than the installed one (compared as text). */
  isDowngrade: boolean;
}

/** One progress report of a running operation. */
export interface ProgressData {
  /** Percentage, 0 to 100. */
  progress: number;
  /** The current installer action's text. */
  action: string;
  /** Direction of the progress bar. */
  forward: boolean;
}

/**
 * Receives a running operation's reports on the loop thread, in order, with
 * `this` undefined: `progressChanged` about once a second from the engine's first
 * progress message, then `completed` once. An exception thrown by a member is
 * reported as an uncaught exception; the operation goes on.
 */
export interface ProgressHandler {
  progressChanged(this: void, progress: ProgressData): void;
  /**
   * The operation's Windows Installer result: 0 success, 1602 cancelled, 1603
   * failed (a launch condition that does not hold included), 1605 the product to
   * remove is not installed, 1618 another operation runs, 3010 success that needs
   * a restart.
   */
  completed(this: void, code: number): void;
}

/** `query('application')`: the user interface's start and end. */
export interface Application {
  /**
   * Call when the interface starts: reads the bootstrapper's command line and,
   * when `/log DIR` is on it, moves both log files into DIR and opens the trace log.
   * @returns always true. Throws "ResultCodeException" when the command-line block
   * cannot be created.
   */
  run(): boolean;
  run(callback: Callback<boolean>): void;
  /**
   * Call when the interface ends: releases the package object and the setup
   * manager; a later use creates them again.
   * @returns always true.
   */
  join(): boolean;
  join(callback: Callback<boolean>): void;
}

/** `query('trace_helper')`: the script's own records in the installer log. */
export interface TraceHelper {
  /**
   * Writes `text` as one record when `level` is at or below the trace level and
   * the log is open.
   * @returns always 0.
   */
  trace(text: Input<string>, level: Input<number>): number;
  trace(text: Input<string>, level: Input<number>, callback: Callback<number>): void;
}

/** `query('debug_configuration')`. */
export interface DebugConfiguration {
  /**
   * @param isDebug receives false.
   * @returns always 0.
   */
  isDebug(isDebug: Out<boolean>): number;
  isDebug(isDebug: Out<boolean>, callback: Callback<number>): void;
}

/** `query('tracer_controller')`: the installer log and its level. */
export interface TracerController {
  /**
   * Opens the installer log.
   * @returns 0 when the log is open afterwards (also when it already was), or
   * -2147483573 (0x8000004B, "Unspecified error") when it cannot be opened.
   */
  turnOnTraces(): number;
  turnOnTraces(callback: Callback<number>): void;
  /** Closes the installer log. @returns always 0. */
  turnOffTraces(): number;
  turnOffTraces(callback: Callback<number>): void;
  /**
   * Sets the trace level (unsigned 32-bit; 700 at start): records above it are dropped.
   * @returns always 0.
   */
  setTraceLevel(level: Input<number>): number;
  setTraceLevel(level: Input<number>, callback: Callback<number>): void;
  /**
   * @param open receives whether the log is open.
   * @param level receives the trace level.
   * @returns always 0.
   */
  getTraceState(open: Out<boolean>, level: Out<number>): number;
  getTraceState(open: Out<boolean>, level: Out<number>, callback: Callback<number>): void;
}

/**
 * `query('msi_product_info')`: checks the package in the current directory
 * (velkor_installer.msi), opening it afresh on every call. Never throws.
 */
export interface MsiProductInfo {
  /** @returns true when the file opens as a package and its summary can be read. */
  isValid(): boolean;
  isValid(callback: Callback<boolean>): void;
  /** @returns the package code, or "" when it cannot be read. */
  getPackageCode(): string;
  getPackageCode(callback: Callback<string>): void;
}

/**
 * `query('msi_package_info')`: facts of the package velkor_installer.msi beside
 * the host executable. Every method throws "msiProductInfo error: N" (N the
 * Windows Installer code, 110 for a missing file) when the package cannot be
 * opened; reads that fail otherwise give "", [] or 0.
 */
export interface MsiPackageInfo {
  /** @returns the ProductName property. */
  getProductName(): string;
  getProductName(callback: Callback<string>): void;
  /** @returns the default install directory, or "" when it cannot be made out. */
  getInstallDirectory(): string;
  getInstallDirectory(callback: Callback<string>): void;
  /** @returns the package's full path: the executable's directory + "velkor_installer.msi". */
  getMsiFilePath(): string;
  getMsiFilePath(callback: Callback<string>): void;
  /** @returns the ProductCode property. */
  getProductCode(): string;
  getProductCode(callback: Callback<string>): void;
  /** @returns the EDITION property. */
  getEdition(): string;
  getEdition(callback: Callback<string>): void;
  /** @returns a Property row's value; "" when there is no such row. */
  getProperty(name: Input<string>): string;
  getProperty(name: Input<string>, callback: Callback<string>): void;
  /**
   * Reads the feature tree. After a synchronous call `features[0..n-1]` hold the
   * package's n features in table order and the elements past them are deleted
   * (the length is kept); each element given must be an object.
   * @returns 0, or the Windows Installer error of reading the feature table (the
   * array then holds what was read before it).
   */
  getProductFeatures(features: ProductFeature[]): number;
  getProductFeatures(features: ProductFeature[], callback: Callback<number>): void;
  /** @returns the package's SetupType against the installed products. */
  getSetupType(): SetupType;
  getSetupType(callback: Callback<SetupType>): void;
  /** @returns the names of the package's external cabinets. */
  getCabFileNames(): string[];
  getCabFileNames(callback: Callback<string[]>): void;
  /**
   * Looks for an installed product that the package's Upgrade table names (the
   * first one found).
   * @param info an empty object; receives the record (its defaults when none is found).
   * @returns whether one was found.
   */
  getConflictedProductInfo(info: Out<InstalledProductInfo>): boolean;
  getConflictedProductInfo(info: Out<InstalledProductInfo>, callback: Callback<boolean>): void;
  /** @returns the REBRANDING_CODE property. */
  getRebrandingCode(): string;
  getRebrandingCode(callback: Callback<string>): void;
  /** @returns the GETPREMIUM_LINK property. */
  getPremiumLink(): string;
  getPremiumLink(callback: Callback<string>): void;
  /**
   * Runs an SQL query on the package.
   * @returns the rows, each field as text (integers in decimal, nulls as ""); []
   * for a query that Windows Installer refuses.
   */
  executeQuery(query: Input<string>): string[][];
  executeQuery(query: Input<string>, callback: Callback<string[][]>): void;
}

/**
 * `query('msi_setup_manager')`: the long operations on the package
 * velkor_installer.msi in the current directory. A start returns 0 at once; the
 * handler then receives progress about once a second and `completed` with the
 * Windows Installer result (0; 1602 after `cancelTask`; 1603 on a failure, a
 * launch condition that does not hold included; 1618 when a task already runs).
 */
export interface MsiSetupManager {
  /**
   * Launch conditions and costing. `parameters`: public properties, NAME=VALUE
   * separated by spaces, a value with spaces in double quotes.
   * @returns always 0; throws "invalid string position" for a malformed text.
   */
  runPreinstallTask(parameters: Input<string>, handler: ProgressHandler): number;
  runPreinstallTask(parameters: Input<string>, handler: ProgressHandler, callback: Callback<number>): void;
  /**
   * Installs the product with those properties (ADDLOCAL, INSTALLDIR, ...).
   * @returns always 0; throws "invalid string position" for a malformed text.
   */
  runSetupTask(parameters: Input<string>, handler: ProgressHandler): number;
  runSetupTask(parameters: Input<string>, handler: ProgressHandler, callback: Callback<number>): void;
  /**
   * Removes an installed product; `completed` receives 1605 when it is not installed.
   * @returns always 0.
   */
  runUninstallProduct(productCode: Input<string>, commandLine: Input<string>, handler: ProgressHandler): number;
  runUninstallProduct(productCode: Input<string>, commandLine: Input<string>, handler: ProgressHandler,
                      callback: Callback<number>): void;
  /** @returns the log mode of a level: 16386 for 1, 8159 for 3, 5120 for any other. */
  getMsiLogFlags(level: Input<number>): number;
  getMsiLogFlags(level: Input<number>, callback: Callback<number>): void;
  /**
   * Sets the Windows Installer log file and level (1, 3 or other, as
   * getMsiLogFlags) for the next task; an empty path turns the log off.
   * @returns always 0.
   */
  initLog(path: Input<string>, level: Input<number>): number;
  initLog(path: Input<string>, level: Input<number>, callback: Callback<number>): void;
  /**
   * Asks the running operation to stop at its next progress message; its
   * `completed` then receives 1602. Without a running task it does nothing.
   * @returns always 0.
   */
  cancelTask(): number;
  cancelTask(callback: Callback<number>): void;
}

/** `query('installer_controller')`: machine services. */
export interface InstallerController {
  /** Restarts the machine at once. @returns 0, or the Win32 error of the failing step. */
  reboot(): number;
  reboot(callback: Callback<number>): void;
  /**
   * Starts the installed product: the program the package's WixShellExecTarget
   * names ("[#file]"), in the install directory, without a window.
   * @returns 0; the Windows Installer error of opening the package in the current
   * directory; or the shell's error, 0 to 32 (2: file not found, 31: nothing to
   * start it with). Throws "invalid string position" when the property is missing.
   */
  startProduct(): number;
  startProduct(callback: Callback<number>): void;
  /**
   * @returns the bootstrapper's command line ("" without one). Throws
   * "ResultCodeException" when the command-line block cannot be created.
   */
  getCommandLine(): string;
  getCommandLine(callback: Callback<string>): void;
  /**
   * @returns "osMajorVer=10 osMinorVer=0 osBuildNumber=19045 osServicePackNumber=0
   * osEdition=256 osProductType=1" for this machine; "" when it cannot be read.
   */
  getWindowsVersionProperty(): string;
  getWindowsVersionProperty(callback: Callback<string>): void;
  /**
   * @returns the host executable's directory with one trailing separator. Throws
   * "CheckResultFailedException" when it cannot be found.
   */
  getCurrentPath(): string;
  getCurrentPath(callback: Callback<string>): void;
  /**
   * Adds AGREETOEULA=1 to the cached package of the pre-release product.
   * @returns 0, or the Windows Installer error (nonzero when that product is not
   * installed or its package already has the property).
   */
  fixBeta(): number;
  fixBeta(callback: Callback<number>): void;
  /** Tells the bootstrapper to hide its splash screen. @returns always 0. */
  hideSplashScreen(): number;
  hideSplashScreen(callback: Callback<number>): void;
  /**
   * @returns the machine identifier: 36 characters, upper-case hexadecimal in
   * groups 8-4-4-4-12. Throws when the machine's identity cannot be read.
   */
  getMachineId(): string;
  getMachineId(callback: Callback<string>): void;
}

/**
 * The one object of a class, created on first use; every call with the same key
 * returns the same object. Throws "Failed to query object" for any other key.
 */
export function query(key: 'application'): Application;
export function query(key: 'trace_helper'): TraceHelper;
export function query(key: 'debug_configuration'): DebugConfiguration;
export function query(key: 'tracer_controller'): TracerController;
export function query(key: 'msi_product_info'): MsiProductInfo;
export function query(key: 'msi_package_info'): MsiPackageInfo;
export function query(key: 'msi_setup_manager'): MsiSetupManager;
export function query(key: 'installer_controller'): InstallerController;

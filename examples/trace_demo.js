'use strict';
// Drives the tracing classes from script and prints the installer log they wrote.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

// The log is created in the current directory; use a fresh one.
const workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'installer-demo-'));
process.chdir(workDir);

const addon = require('..');
const controller = addon.query('tracer_controller');
const tracer = addon.query('trace_helper');
const debug = addon.query('debug_configuration');

const state = {};
const level = {};
controller.getTraceState(state, level);
console.log(`log open: ${state.value}, trace level: ${level.value}`);

console.log(`turnOnTraces -> ${controller.turnOnTraces()}`);
tracer.trace('demo: user interface started', 700);
tracer.trace('demo: this detail record is above the level and is dropped', 900);
controller.setTraceLevel(1000);
tracer.trace('demo: after raising the level, detail records are written', 900);
tracer.trace(`demo: long record (${'x'.repeat(600).length} characters) ` + 'x'.repeat(600), 700);
tracer.trace('demo: text outside the Basic Multilingual Plane: 😀', 700);

const isDebug = {};
debug.isDebug(isDebug);
tracer.trace(`demo: debug configuration = ${isDebug.value}`, 700);
controller.turnOffTraces();

const [log] = fs.readdirSync(workDir).filter((name) => name.endsWith('.INST.log'));
console.log(`\n${path.join(workDir, log)}:`);
process.stdout.write(fs.readFileSync(path.join(workDir, log), 'utf8'));

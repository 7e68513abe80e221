'use strict';
// The script bridge, through the test-only addon whose classes cover every
// parameter and result kind.
const { suite, test } = require('node:test');
const assert = require('node:assert/strict');
const { bridgeTestAddon } = require('./addon_paths');
const { runInFreshProcess } = require('./child_process_helpers');

const addon = require(bridgeTestAddon);
const probe = addon.query('probe');

// [call, message]: each call throws an Error with that message (text or pattern).
function assertRefused(cases) {
  for (const [call, message] of cases) assert.throws(call, { name: 'Error', message }, String(call));
}

suite('query', () => {
  test('serves one object per key, constructed once, its methods own properties; query is the only export', () => {
    assert.deepEqual(Object.keys(addon), ['query']);
    assert.equal(addon.query('probe'), probe);
    assert.equal(addon.query({ value: 'probe' }), probe);
    assert.equal(probe.constructions(), 1);
    assert.ok(Object.hasOwn(probe, 'echoBool'));
    assert.equal(probe.echoBool.name, 'echoBool');
    assert.equal(probe.toString, undefined, 'no ordinary prototype');
    assert.notEqual(Object.getPrototypeOf(probe), Object.prototype);
  });

  test('refuses bad keys with plain Errors; a failed construction caches nothing', () => {
    assert.throws(() => addon.query(), (error) => Object.getPrototypeOf(error) === Error.prototype);
    assertRefused([
      [() => addon.query(), 'Failed to parse key value'],
      [() => addon.query('probe', 'other'), 'Failed to parse key value'],
      [() => addon.query('nope'), 'Failed to query object'],
      [() => addon.query(5), 'Failed to convert to String type'],
      [() => addon.query(null), 'Failed to convert to String type'],
      [() => addon.query('broken'), 'construction failed'],
      [() => addon.query('broken'), 'construction failed'],
    ]);
  });
});

test('class objects: a foreign receiver throws, and the native object does not hang on the prototype', () => {
  const other = addon.query('other');
  const prototype = Object.getPrototypeOf(other);
  for (const receiver of [other, {}, undefined, 5, Object.create(prototype)]) {
    assert.throws(() => probe.noArguments.call(receiver), { message: 'Illegal invocation' });
  }
  Object.setPrototypeOf(other, null);
  assert.equal(other.identity(), 99);
  Object.setPrototypeOf(other, prototype);
});

suite('calls', () => {
  test('argument counts, bad arguments and native exceptions', () => {
    assertRefused([
      [() => probe.twoArguments(1), 'Index is out of range'],
      [() => probe.echoBool(), 'Index is out of range'],
      // With several bad arguments the highest-numbered one is reported.
      [() => probe.twoArguments('x', 5), 'Failed to convert to String type'],
      [() => probe.twoArguments('x', 'y'), 'Failed to convert to Int32 type'],
      [() => probe.fail('runtime'), 'native failure text'],
      [() => probe.fail('result'), 'ResultCodeException'],
      [() => probe.fail('check'), 'CheckFailedException'],
      [() => probe.fail('alloc'), /alloc/],
      [() => probe.fail('other'), 'Unknown exception'],
    ]);
    assert.equal(probe.fail('none'), 0);
    // A script exception raised during a conversion passes through unchanged.
    assert.throws(() => probe.echoInt32({ get value() { throw new RangeError('from a getter'); } }), RangeError);
  });

  test('extra arguments are ignored; one function for one parameter is that parameter, empty', () => {
    assert.equal(probe.twoArguments(3, 'a', 'extra', 4), 'a/3');
    const before = probe.noArguments();
    assert.equal(probe.noArguments(1), before + 1);
    assert.deepEqual([probe.echoString(() => {}), probe.echoInt32(function () {}), probe.echoBool(() => {})], ['', 0, false]);
  });
});

suite('scalar conversions', () => {
  test('plain, boxed, wrapped around and refused', () => {
    const texts = ['', 'ascii', 'café 中文', '😀 outside', 'lone \uD800 high', '\uDC00 lone low', 'a\u0000b'];
    const cases = [
      ['echoBool', true, true], ['echoBool', { value: true }, true], ['echoBool', { value: { value: true } }, true],
      ['echoBool', {}, false], ['echoBool', { other: 1 }, false], ['echoBool', Object.create({ value: true }), true],
      // Any object without a box converts to the empty value.
      ['echoInt32', [1, 2], 0], ['echoString', new Date(), ''], ['echoInt32', { value: 7 }, 7],
      // ToInt32 and ToUint32; a uint32 result reaches script as the same bits read as signed.
      ['echoInt32', 2147483648, -2147483648], ['echoInt32', 4294967295, -1], ['echoInt32', 1.9, 1],
      ['echoInt32', -1.9, -1], ['echoInt32', NaN, 0],
      ['echoUInt32', -1, -1], ['echoUInt32', 4294967295, -1], ['echoUInt32', 2147483647, 2147483647],
      ...texts.map((text) => ['echoWString', text, text]), ['echoString', 'café 😀', 'café 😀'],
      ['echoWString', { value: 'x' }, 'x'], ['echoWString', {}, ''],
    ];
    for (const [i, [method, input, expected]] of cases.entries()) {
      assert.equal(probe[method](input), expected, `case ${i}: ${method}`);
    }
    const selfBox = {};
    selfBox.value = selfBox;
    assertRefused([
      ...['true', 1, null, undefined].map((bad) => [() => probe.echoBool(bad), 'Failed to convert to Boolean type']),
      [() => probe.echoInt32('7'), 'Failed to convert to Int32 type'],
      [() => probe.echoInt32(true), 'Failed to convert to Int32 type'],
      [() => probe.echoInt32(selfBox), 'Failed to convert to Int32 type'],  // not followed forever
      [() => probe.echoUInt32(null), 'Failed to convert to UInt32 type'],
      [() => probe.echoWString(5), 'Failed to convert to String type'],
      [() => probe.echoString(undefined), 'Failed to convert to String type'],
    ]);
  });

  test('narrow string results end at the first NUL; wide ones keep it', () => {
    assert.deepEqual([probe.textWithNul(), probe.wideWithNul()], ['before', 'before\u0000after']);
  });
});

suite('out-parameters', () => {
  test('an empty object receives "value" with the changed native value, once', () => {
    const cases = [['flipBool', false, true, 1], ['doubleInt32', 21, 42, 2], ['decrementUInt32', 0, -1, 3],
      ['exclaimString', 'hi', 'hi!', 4], ['exclaimWString', 'ü😀', 'ü😀!', 5]];
    for (const [method, input, expected, result] of cases) {
      // The box goes in through the inherited "value", so the object stays empty.
      const out = Object.create({ value: input });
      assert.equal(probe[method](out), result, method);
      assert.equal(Object.getOwnPropertyDescriptor(out, 'value').value, expected, method);
      probe[method](out);
      assert.equal(out.value, expected, `${method}: a second call does not write again`);
    }
    const out = {};
    assert.equal(probe.doubleInt32(out), 2);
    assert.deepEqual(out, { value: 0 }, '{} starts from the empty value');
  });

  test('an array, a primitive or an object with any own property is left alone', () => {
    const cases = [[{ a: 1 }, false], [Object.defineProperty({}, 'h', { value: 1 }), false],
      [{ [Symbol('s')]: 1 }, false], [[], false], [Object.create(null), true], [Object.create({}), true]];
    for (const [i, [out, written]] of cases.entries()) {
      probe.flipBool(out);
      assert.equal(Object.hasOwn(out, 'value'), written, `case ${i}`);
    }
    assert.equal(probe.flipBool(false), 1);
  });

  test('built-in objects are never written, so no object inherits "value"', () => {
    const builtIns = [Object.prototype, Function.prototype, Math, JSON, Reflect, Atomics, globalThis, Intl,
      Intl.Collator.prototype, Object.getPrototypeOf(function* () {}),
      Object.getPrototypeOf(Object.getPrototypeOf([][Symbol.iterator]())), Promise.prototype];
    for (const [index, builtIn] of builtIns.entries()) {
      for (const method of ['flipBool', 'doubleInt32', 'exclaimWString', 'movePoint']) {
        try {
          probe[method](builtIn);
        } catch (error) {
          assert.ok(error instanceof Error);  // a record read from a filled object may fail
        }
        assert.equal(Object.hasOwn(builtIn, 'value'), false, `${method} wrote onto built-in ${index}`);
      }
    }
  });

  test('the built-in array prototypes are not written as out-arrays, of any realm; a subclass is', () => {
    const foreign = require('node:vm').runInNewContext('Array.prototype');
    for (const prototype of [Array.prototype, foreign]) {
      assert.equal(probe.resizePoints(prototype, 2), 2);
      assert.deepEqual(Object.getOwnPropertyNames(prototype).filter((key) => /^\d+$/.test(key)), []);
    }
    class Points extends Array {}
    const points = Points.from([]);
    probe.resizePoints(points, 1);
    assert.equal(points[0].x, 1);
  });

  test('an emptied built-in is still recognised', () => {
    const { report } = runInFreshProcess(bridgeTestAddon, `
      const probe = addon.query('probe');
      const emptied = [Reflect, Object.prototype];
      const { ownKeys } = Reflect;
      const saved = emptied.map((object) => Object.getOwnPropertyDescriptors(object));
      for (const object of emptied) for (const key of ownKeys(object)) delete object[key];
      const left = emptied.map((object) => Object.getOwnPropertyNames(object).length);
      for (const object of emptied) probe.flipBool(object);
      const written = emptied.map((object) => Object.getOwnPropertyNames(object).length);
      emptied.forEach((object, i) => Object.defineProperties(object, saved[i]));
      const out = {};
      probe.flipBool(out);
      Object.assign(report, { left, written, plain: out.value });
    `);
    assert.deepEqual(report, { left: [0, 0], written: [0, 0], plain: true });
  });
});

suite('records', () => {
  const point = { x: 1, weight: 2, visible: true, label: 'p', tag: { name: 'n', depth: 3 } };

  test('read field by field, with nested records and boxes; {} gives the defaults', () => {
    for (const [input, expected] of [[point, '1,2,true,p,n,3'], [{ value: point }, '1,2,true,p,n,3'],
      [{ ...point, x: { value: 9 } }, '9,2,true,p,n,3'], [{}, '0,0,false,,,0'], [{ value: {} }, '0,0,false,,,0']]) {
      assert.equal(probe.describePoint(input), expected);
    }
    const { weight, ...noWeight } = point;
    // A missing field fails with that field's type; a non-object with the record text.
    assertRefused([
      [() => probe.describePoint(noWeight), 'Failed to convert to UInt32 type'],
      [() => probe.describePoint({ ...point, tag: 'x' }), 'Failed to convert to specified type'],
      [() => probe.describePoint('point'), 'Failed to convert to specified type'],
      [() => probe.describePoint(undefined), 'Failed to convert to specified type'],
    ]);
  });

  test('results have the fields as own properties, in order; record out-parameters', () => {
    const made = probe.makePoint(4, 'q');
    assert.deepEqual(Object.keys(made), ['x', 'weight', 'visible', 'label', 'tag']);
    assert.deepEqual(Object.keys(made.tag), ['name', 'depth']);
    assert.deepEqual({ ...made, tag: { ...made.tag } },
      { x: 4, weight: 7, visible: true, label: 'q', tag: { name: 'tag of q', depth: 1 } });
    assert.equal(made.toString, undefined, 'record objects have no ordinary prototype');
    const out = Object.create({ value: point });
    probe.movePoint(out);
    assert.deepEqual([out.value.x, out.value.tag.depth], [11, 4]);
  });
});

suite('arrays of records', () => {
  const p = (x, weight) => ({ x, weight, visible: false, label: '', tag: { name: '', depth: 0 } });

  test('an array argument', () => {
    assert.deepEqual([probe.sumWeights([p(0, 1), p(0, 2), p(0, 3)]), probe.sumWeights([])], [6, 0]);
    assert.throws(() => probe.sumWeights({ length: 1, 0: p(0, 1) }), { message: 'Failed to convert to Array type' });
    assert.throws(() => probe.sumWeights([p(0, 1), 'x']), { message: 'Failed to convert to specified type' });
  });

  test('written back in place: shorter lists leave holes and keep the length, longer ones grow it', () => {
    const shorter = [p(1, 0), p(2, 0), p(3, 0)];
    assert.equal(probe.resizePoints(shorter, 1), 1);
    assert.deepEqual([shorter.length, shorter[0].x, 1 in shorter, 2 in shorter], [3, 2, false, false]);
    const points = [p(1, 0)];
    probe.resizePoints(points, 3);
    assert.deepEqual(points.map((point) => point.x), [2, 1, 1]);
    // Records are made in batches: many cross their boundaries intact.
    probe.resizePoints(points, 2000);
    assert.equal(points.length, 2000);
    assert.deepEqual([points[0].x, points[681].x, points[682].x, points[1999].x], [3, 1, 1, 1]);
    assert.equal(new Set(points).size, 2000, 'one object per record');
    assert.deepEqual(Object.keys(points[1999]), ['x', 'weight', 'visible', 'label', 'tag']);
  });
});

test('arrays of arrays of strings, made in batches of rows', () => {
  assert.deepEqual([probe.grid(2, 2), probe.grid(1, 0), probe.grid(0, 5)], [[['0:0', '0:1'], ['1:0', '1:1']], [[]], []]);
  const grid = probe.grid(700, 7);
  assert.equal(grid.length, 700);
  assert.ok(grid.every((row, i) => row.length === 7 && row[0] === `${i}:0` && row[6] === `${i}:6`));
});

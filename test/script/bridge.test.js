'use strict';
// The script bridge, through the test-only addon whose classes cover every
// parameter and result kind.
const { suite, test } = require('node:test');
const assert = require('node:assert/strict');
const { bridgeTestAddon } = require('./addon_paths');
const { runInFreshProcess } = require('./child_process_helpers');

const addon = require(bridgeTestAddon);
const probe = addon.query('probe');

suite('query', () => {
  test('returns the identical object and constructs once', () => {
    assert.equal(addon.query('probe'), probe);
    assert.equal(addon.query({ value: 'probe' }), probe);
    assert.equal(probe.constructions(), 1);
  });

  test('rejects a bad argument count, unknown keys and non-strings', () => {
    assert.throws(() => addon.query(), { name: 'Error', message: 'Failed to parse key value' });
    assert.throws(() => addon.query('probe', 'other'), { message: 'Failed to parse key value' });
    assert.throws(() => addon.query('nope'), { message: 'Failed to query object' });
    assert.throws(() => addon.query(5), { message: 'Failed to convert to String type' });
    assert.throws(() => addon.query(null), { message: 'Failed to convert to String type' });
  });

  test('thrown values are Error instances', () => {
    try {
      addon.query();
      assert.fail('query() did not throw');
    } catch (error) {
      assert.ok(error instanceof Error);
      assert.equal(Object.getPrototypeOf(error), Error.prototype);
    }
  });

  test('a failing construction caches nothing and fails again', () => {
    assert.throws(() => addon.query('broken'), { message: 'construction failed' });
    assert.throws(() => addon.query('broken'), { message: 'construction failed' });
  });

  test('the only export is query', () => {
    assert.deepEqual(Object.keys(addon), ['query']);
    assert.equal(addon.query.name, 'query');
  });
});

suite('class objects', () => {
  test('have no ordinary prototype chain', () => {
    assert.equal(probe.toString, undefined);
    assert.notEqual(Object.getPrototypeOf(probe), Object.prototype);
    assert.equal(typeof Object.getPrototypeOf(probe), 'object');
  });

  test('carry their methods as named own properties', () => {
    assert.ok(Object.prototype.hasOwnProperty.call(probe, 'echoBool'));
    assert.equal(probe.echoBool.name, 'echoBool');
    assert.equal(typeof probe.twoArguments, 'function');
  });

  test('a method called on a foreign receiver throws instead of crashing', () => {
    const other = addon.query('other');
    const message = { message: 'Illegal invocation' };
    assert.throws(() => probe.noArguments.call(other), message);
    assert.throws(() => probe.noArguments.call({}), message);
    assert.throws(() => probe.noArguments.call(undefined), message);
    assert.throws(() => probe.noArguments.call(5), message);
    assert.throws(() => probe.noArguments.call(Object.create(Object.getPrototypeOf(other))), message);
    const detached = probe.noArguments;
    assert.throws(() => detached(), message);
    assert.equal(other.identity(), 99);
  });

  test('script may overwrite and delete methods like any property', () => {
    const other = addon.query('other');
    const saved = other.identity;
    other.identity = () => 5;
    assert.equal(addon.query('other').identity(), 5);
    delete other.identity;
    assert.equal(other.identity, undefined);
    other.identity = saved;
    assert.equal(other.identity(), 99);
    // The native object does not hang on the prototype.
    const prototype = Object.getPrototypeOf(other);
    Object.setPrototypeOf(other, null);
    assert.equal(other.identity(), 99);
    Object.setPrototypeOf(other, prototype);
  });
});

suite('calls', () => {
  test('too few arguments throw "Index is out of range"', () => {
    assert.throws(() => probe.twoArguments(1), { message: 'Index is out of range' });
    assert.throws(() => probe.echoBool(), { message: 'Index is out of range' });
  });

  test('with several bad arguments the highest-numbered one is reported', () => {
    assert.throws(() => probe.twoArguments('x', 5), { message: 'Failed to convert to String type' });
    assert.throws(() => probe.twoArguments('x', 'y'), { message: 'Failed to convert to Int32 type' });
  });

  test('extra arguments are ignored, unless the last is a function', () => {
    assert.equal(probe.twoArguments(3, 'a', 'extra', 4), 'a/3');
    const before = probe.noArguments();
    assert.equal(probe.noArguments(1), before + 1);
  });

  test('one function for one parameter is the parameter itself (empty value)', () => {
    assert.equal(probe.echoString(() => {}), '');
    assert.equal(probe.echoInt32(function () {}), 0);
    assert.equal(probe.echoBool(() => {}), false);
  });

  test('native exceptions become Errors with their text', () => {
    assert.throws(() => probe.fail('runtime'), { name: 'Error', message: 'native failure text' });
    assert.throws(() => probe.fail('result'), { message: 'ResultCodeException' });
    assert.throws(() => probe.fail('check'), { message: 'CheckFailedException' });
    assert.throws(() => probe.fail('alloc'), { message: /alloc/ });
    assert.throws(() => probe.fail('other'), { message: 'Unknown exception' });
    assert.equal(probe.fail('none'), 0);
  });

  test('a script exception raised during conversion passes through unchanged', () => {
    const box = { get value() { throw new RangeError('from a getter'); } };
    assert.throws(() => probe.echoInt32(box), RangeError);
  });
});

suite('scalar conversions', () => {
  test('booleans: plain, boxed and nested boxes', () => {
    assert.equal(probe.echoBool(true), true);
    assert.equal(probe.echoBool({ value: true }), true);
    assert.equal(probe.echoBool({ value: { value: true } }), true);
    assert.equal(probe.echoBool({}), false);
    assert.equal(probe.echoBool({ other: 1 }), false);
    assert.equal(probe.echoBool(Object.create({ value: true })), true, 'inherited box');
    for (const bad of ['true', 1, null, undefined]) {
      assert.throws(() => probe.echoBool(bad), { message: 'Failed to convert to Boolean type' });
    }
  });

  test('any object without a box converts to the empty value', () => {
    assert.equal(probe.echoInt32([1, 2]), 0);
    assert.equal(probe.echoString(new Date()), '');
    assert.equal(probe.echoInt32({ value: 7 }), 7);
  });

  test('a box that contains itself is refused, not followed forever', () => {
    const box = {};
    box.value = box;
    assert.throws(() => probe.echoInt32(box), { message: 'Failed to convert to Int32 type' });
  });

  test('int32 and uint32 wrap around as ToInt32 and ToUint32', () => {
    assert.equal(probe.echoInt32(2147483648), -2147483648);
    assert.equal(probe.echoInt32(4294967295), -1);
    assert.equal(probe.echoInt32(1.9), 1);
    assert.equal(probe.echoInt32(-1.9), -1);
    assert.equal(probe.echoInt32(NaN), 0);
    assert.throws(() => probe.echoInt32('7'), { message: 'Failed to convert to Int32 type' });
    assert.throws(() => probe.echoInt32(true), { message: 'Failed to convert to Int32 type' });
    // A uint32 result reaches script as the same bits read as signed.
    assert.equal(probe.echoUInt32(-1), -1);
    assert.equal(probe.echoUInt32(4294967295), -1);
    assert.equal(probe.echoUInt32(2147483647), 2147483647);
    assert.throws(() => probe.echoUInt32(null), { message: 'Failed to convert to UInt32 type' });
  });

  test('strings survive both ways, outside the BMP and with lone surrogates', () => {
    for (const text of ['', 'ascii', 'café 中文', '😀 outside', 'lone \uD800 high', '\uDC00 lone low', 'a\u0000b']) {
      assert.equal(probe.echoWString(text), text);
    }
    assert.equal(probe.echoString('café 😀'), 'café 😀');
    assert.equal(probe.echoWString({ value: 'x' }), 'x');
    assert.equal(probe.echoWString({}), '');
    assert.throws(() => probe.echoWString(5), { message: 'Failed to convert to String type' });
    assert.throws(() => probe.echoString(undefined), { message: 'Failed to convert to String type' });
  });

  test('narrow string results end at the first NUL; wide ones keep it', () => {
    assert.equal(probe.textWithNul(), 'before');
    assert.equal(probe.wideWithNul(), 'before\u0000after');
  });
});

suite('out-parameters', () => {
  test('an empty object receives "value" with the changed native value', () => {
    const cases = [
      ['flipBool', { value: false }, true, 1],
      ['doubleInt32', { value: 21 }, 42, 2],
      ['decrementUInt32', { value: 0 }, -1, 3],
      ['exclaimString', { value: 'hi' }, 'hi!', 4],
      ['exclaimWString', { value: 'ü😀' }, 'ü😀!', 5],
    ];
    for (const [method, input, expected, result] of cases) {
      const out = {};
      // The box goes in through the inherited "value", so the object stays empty.
      Object.setPrototypeOf(out, input);
      assert.equal(probe[method](out), result, method);
      assert.deepEqual(Object.getOwnPropertyDescriptor(out, 'value').value, expected, method);
    }
  });

  test('{} starts from the empty value', () => {
    const out = {};
    assert.equal(probe.doubleInt32(out), 2);
    assert.deepEqual(out, { value: 0 });
  });

  test('a filled object, a second call and primitives are left alone', () => {
    const filled = { a: 1 };
    probe.flipBool(filled);
    assert.deepEqual(filled, { a: 1 });

    const out = {};
    probe.exclaimString(out);
    assert.deepEqual(out, { value: '!' });
    probe.exclaimString(out);
    assert.deepEqual(out, { value: '!' }, 'the second call must not write again');

    assert.equal(probe.flipBool(false), 1);
    assert.equal(probe.doubleInt32(0), 2);
  });

  test('arrays and functions are not empty objects', () => {
    const array = [];
    probe.doubleInt32(array);
    assert.deepEqual(array, []);
  });

  test('an object with any own property, enumerable or not, is left alone', () => {
    const hidden = Object.defineProperty({}, 'h', { value: 1, enumerable: false });
    const symbol = { [Symbol('s')]: 1 };
    const bare = Object.create(null);
    const cases = [['hidden', hidden, false], ['symbol', symbol, false], ['bare', bare, true],
      ['inheriting', Object.create({}), true]];
    for (const [label, out, written] of cases) {
      probe.flipBool(out);
      assert.equal(Object.hasOwn(out, 'value'), written, label);
    }
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
    assert.equal({}.value, undefined);
  });

  test('the built-in array prototypes are not written as out-arrays, of any realm', () => {
    const foreign = require('node:vm').runInNewContext('Array.prototype');
    for (const prototype of [Array.prototype, foreign]) {
      assert.equal(probe.resizePoints(prototype, 2), 2);
      assert.deepEqual(Object.getOwnPropertyNames(prototype).filter((key) => /^\d+$/.test(key)), []);
    }
    assert.equal([][0], undefined);
    // An array subclass is written as any array.
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

  test('read field by field, with nested records and boxes', () => {
    assert.equal(probe.describePoint(point), '1,2,true,p,n,3');
    assert.equal(probe.describePoint({ value: point }), '1,2,true,p,n,3');
    assert.equal(probe.describePoint({ ...point, x: { value: 9 } }), '9,2,true,p,n,3');
  });

  test('{} and {value: {}} give the defaults', () => {
    assert.equal(probe.describePoint({}), '0,0,false,,,0');
    assert.equal(probe.describePoint({ value: {} }), '0,0,false,,,0');
  });

  test('a missing field fails with that field\'s type; a non-object with the record text', () => {
    const { weight, ...noWeight } = point;
    assert.throws(() => probe.describePoint(noWeight), { message: 'Failed to convert to UInt32 type' });
    assert.throws(() => probe.describePoint({ ...point, tag: 'x' }), { message: 'Failed to convert to specified type' });
    assert.throws(() => probe.describePoint('point'), { message: 'Failed to convert to specified type' });
    assert.throws(() => probe.describePoint(undefined), { message: 'Failed to convert to specified type' });
  });

  test('results are objects with the fields as own properties, in order', () => {
    const made = probe.makePoint(4, 'q');
    assert.deepEqual(Object.keys(made), ['x', 'weight', 'visible', 'label', 'tag']);
    assert.equal(made.x, 4);
    assert.equal(made.label, 'q');
    assert.equal(made.visible, true);
    assert.deepEqual(Object.keys(made.tag), ['name', 'depth']);
    assert.equal(made.tag.name, 'tag of q');
    assert.equal(made.toString, undefined, 'record objects have no ordinary prototype');
  });

  test('record out-parameters', () => {
    const out = {};
    Object.setPrototypeOf(out, { value: point });
    probe.movePoint(out);
    assert.equal(out.value.x, 11);
    assert.equal(out.value.tag.depth, 4);
    const untouched = { ...point };
    probe.movePoint(untouched);
    assert.equal(untouched.x, 1);
  });
});

suite('arrays of records', () => {
  const p = (x, weight) => ({ x, weight, visible: false, label: '', tag: { name: '', depth: 0 } });

  test('an array argument', () => {
    assert.equal(probe.sumWeights([p(0, 1), p(0, 2), p(0, 3)]), 6);
    assert.equal(probe.sumWeights([]), 0);
    assert.throws(() => probe.sumWeights({ length: 1, 0: p(0, 1) }), { message: 'Failed to convert to Array type' });
    assert.throws(() => probe.sumWeights([p(0, 1), 'x']), { message: 'Failed to convert to specified type' });
  });

  test('written back in place: shorter lists leave holes and keep the length', () => {
    const points = [p(1, 0), p(2, 0), p(3, 0)];
    assert.equal(probe.resizePoints(points, 1), 1);
    assert.equal(points.length, 3);
    assert.equal(points[0].x, 2);
    assert.equal(1 in points, false);
    assert.equal(2 in points, false);
  });

  test('longer lists grow the array', () => {
    const points = [p(1, 0)];
    probe.resizePoints(points, 3);
    assert.equal(points.length, 3);
    assert.deepEqual(points.map((point) => point.x), [2, 1, 1]);
    // Records are made in batches: many cross their boundaries intact.
    probe.resizePoints(points, 2000);
    assert.equal(points.length, 2000);
    assert.deepEqual([points[0].x, points[681].x, points[682].x, points[1999].x], [3, 1, 1, 1]);
    assert.equal(new Set(points).size, 2000, 'one object per record');
    assert.deepEqual(Object.keys(points[1999]), ['x', 'weight', 'visible', 'label', 'tag']);
    assert.equal(points[1999].tag.toString, undefined);
  });
});

suite('vector results', () => {
  test('arrays of strings and of arrays of strings', () => {
    assert.deepEqual(probe.split('a bb 😀'), ['a', 'bb', '😀']);
    assert.deepEqual(probe.split(''), []);
    assert.deepEqual(probe.grid(2, 2), [['0:0', '0:1'], ['1:0', '1:1']]);
    assert.deepEqual(probe.grid(1, 0), [[]]);
    assert.deepEqual(probe.grid(0, 5), []);
    // Made in batches of rows: many cross their boundaries intact.
    const grid = probe.grid(700, 7);
    assert.equal(grid.length, 700);
    assert.ok(grid.every((row, i) => row.length === 7 && row[0] === `${i}:0` && row[6] === `${i}:6`));
  });
});

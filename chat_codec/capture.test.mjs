// What a message may hold, and each refusal at its exact boundary. Captured values are observed
// through "set" edits, which rebuild them from the native copy.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import path from 'node:path';
import { test } from 'node:test';
import vm from 'node:vm';

import { NativeMessageEncoder } from './test_support.mjs';

const TEXT = {
  nesting: 'Message nesting exceeds native budget',
  budget: 'Message checkpoint budget exceeded',
  unsupported: 'Unsupported message value',
  nonPlain: 'Non-plain objects use complete messages',
  object: 'Message object exceeds native budget',
  array: 'Message array exceeds native budget',
  nonstandard: 'Nonstandard arrays use complete messages',
  sparse: 'Sparse arrays use complete messages',
};

// Captures `message` as a fresh checkpoint; returns the refusal text, or null when captured.
function refusal(message) {
  const e = new NativeMessageEncoder();
  try {
    assert.equal(e.update(1, message, false), null);
  } catch (error) {
    assert.equal(error.code, 'GenericFailure', error.message);
    assert.equal(e.messageSeq, null);
    return error.message;
  }
  assert.equal(e.messageSeq, 1);
  return null;
}

// The captured copy of `message`, rebuilt by the encoder.
function roundTrip(message) {
  const e = new NativeMessageEncoder();
  e.update(1, { m: null }, false);
  const delta = e.update(2, { m: message }, false);
  assert.equal(delta.edits.length, 1);
  return delta.edits[0].value;
}

function nested(levels) {
  let v = [];
  for (let i = 1; i < levels; i++) v = [v];
  return v;
}

function objectWith(n, value = (i) => i) {
  const o = {};
  for (let i = 0; i < n; i++) o[`k${i}`] = value(i);
  return o;
}

// An array (or object) whose first member is a getter recording whether it was read.
function watched(container) {
  const state = { read: false };
  Object.defineProperty(container, Array.isArray(container) ? 0 : 'k0', {
    get() { state.read = true; return 0; }, enumerable: true, configurable: true,
  });
  return { container, state };
}

test('budgets at their exact boundaries', () => {
  const fullString = 4194288;
  const cases = [
    ['33 nested arrays', () => nested(33), null],
    ['34 nested arrays', () => nested(34), TEXT.nesting],
    ['33 nested objects', () => { let v = 1; for (let i = 0; i < 32; i++) v = { v }; return v; }, null],
    ['34 nested objects', () => { let v = 1; for (let i = 0; i < 33; i++) v = { v }; return v; },
      TEXT.nesting],
    ['19,999 numbers', () => new Array(19999).fill(1), null],
    ['20,000 numbers', () => new Array(20000).fill(1), TEXT.budget],
    ['20,001 numbers', () => new Array(20001).fill(1), TEXT.array],
    ['9,999 members', () => objectWith(9999), null],
    ['10,000 members', () => objectWith(10000), TEXT.budget],
    ['20,000 members', () => objectWith(20000), TEXT.budget],
    ['20,001 members', () => objectWith(20001), TEXT.object],
    ['string of 4,194,288 units', () => 'x'.repeat(fullString), null],
    ['string of 4,194,289 units', () => 'x'.repeat(fullString + 1), TEXT.budget],
    ['two strings sharing the bytes', () => ['x'.repeat(2097100), 'y'.repeat(2097100)], null],
    ['two strings over the bytes', () => ['x'.repeat(2097130), 'y'.repeat(2097130)], TEXT.budget],
    ['keys are charged', () => objectWith(2, () => 1), null],
    ['long keys exhaust bytes', () => ({ ['k'.repeat(4194270)]: 1, b: 1 }), TEXT.budget],
  ];
  for (const [name, make, expected] of cases) {
    assert.equal(refusal(make()), expected, name);
  }
});

test('oversized containers are refused before any member is read', () => {
  const arr = watched(new Array(20001).fill(1));
  assert.equal(refusal(arr.container), TEXT.array);
  assert.equal(arr.state.read, false);
  const obj = watched(objectWith(20001));
  assert.equal(refusal(obj.container), TEXT.object);
  assert.equal(obj.state.read, false);
  const holey = watched([1, , 3]); // eslint-disable-line no-sparse-arrays
  assert.equal(refusal(holey.container), TEXT.nonstandard);
  assert.equal(holey.state.read, false);
});

test('symbol keys count toward the object budget and the array rule', () => {
  const manySymbols = objectWith(19990);
  for (let i = 0; i < 11; i++) manySymbols[Symbol(i)] = i;
  assert.equal(refusal(manySymbols), TEXT.object);

  const hiddenSymbols = objectWith(19990);
  for (let i = 0; i < 11; i++) Object.defineProperty(hiddenSymbols, Symbol(i), { value: i });
  assert.equal(refusal(hiddenSymbols), TEXT.budget, 'non-enumerable symbols are not listed');

  const withSymbol = [1, 2];
  withSymbol[Symbol('s')] = 3;
  assert.equal(refusal(withSymbol), TEXT.nonstandard);
  const withHiddenSymbol = [1, 2];
  Object.defineProperty(withHiddenSymbol, Symbol('s'), { value: 3 });
  assert.deepEqual(roundTrip(withHiddenSymbol), [1, 2]);

  const sym = Symbol('left out');
  assert.deepEqual(roundTrip({ a: 1, [sym]: 2, b: { [sym]: 3 } }), { a: 1, b: {} });
});

test('nonstandard and sparse arrays', () => {
  const balanced = [1, , 3]; // eslint-disable-line no-sparse-arrays
  balanced.extra = 'x';
  const named = [1, 2];
  named.extra = 'x';
  const hidden = [1, 2, 3];
  Object.defineProperty(hidden, 1, { value: 2, enumerable: false });
  const hiddenNamed = [1, 2];
  Object.defineProperty(hiddenNamed, 'extra', { value: 'x', enumerable: false });
  const cases = [
    ['hole', [1, , 3], TEXT.nonstandard], // eslint-disable-line no-sparse-arrays
    ['hole balanced by a named property', balanced, TEXT.sparse],
    ['extra named property', named, TEXT.nonstandard],
    ['non-enumerable element', hidden, TEXT.nonstandard],
    ['non-enumerable named property', hiddenNamed, null],
    ['empty array with length', new Array(3), TEXT.nonstandard],
    ['empty array', [], null],
    ['array from another context', vm.runInNewContext('[1, [2]]'), null],
  ];
  for (const [name, value, expected] of cases) assert.equal(refusal(value), expected, name);
});

test('plain and non-plain objects', () => {
  class Message { constructor() { this.a = 1; } }
  const cases = [
    ['null prototype', Object.create(null), null],
    ['object literal', { a: 1 }, null],
    ['class instance', new Message(), TEXT.nonPlain],
    ['date', new Date(0), TEXT.nonPlain],
    ['map', new Map(), TEXT.nonPlain],
    ['boxed number', Object(1), TEXT.nonPlain],
    ['boxed string', Object('s'), TEXT.nonPlain],
    ['regular expression', /x/, TEXT.nonPlain],
    ['typed array', new Uint8Array(2), TEXT.nonPlain],
    ['inherits from a plain object', Object.create({}), TEXT.nonPlain],
    ['object from another context', vm.runInNewContext('({a: 1})'), TEXT.nonPlain],
    ['null-prototype object from another context',
      vm.runInNewContext('Object.create(null)'), null],
    ['nested class instance', { a: [{ b: new Message() }] }, TEXT.nonPlain],
  ];
  for (const [name, value, expected] of cases) assert.equal(refusal(value), expected, name);
});

test('unsupported values anywhere in the message', () => {
  const cases = [
    ['function member', { a: 1, f() {} }],
    ['symbol value', { a: Symbol('s') }],
    ['bigint element', [1, 2n]],
    ['root function', () => 1],
    ['root symbol', Symbol.iterator],
    ['deep function', { a: { b: [{ c: [Math.max] }] } }],
  ];
  for (const [name, value] of cases) assert.equal(refusal(value), TEXT.unsupported, name);
});

test('captured values round-trip exactly', () => {
  const lone = 'a\uD800b\uDC00\uDFFF';
  const copy = roundTrip({ lone, neg: -0, nan: NaN, inf: -Infinity, u: undefined, n: null,
    t: true, f: false, list: [undefined, -0, 'x'], empty: {} });
  assert.equal(copy.lone, lone);
  assert.equal(copy.lone.length, 5);
  assert.ok(Object.is(copy.neg, -0));
  assert.ok(Number.isNaN(copy.nan));
  assert.equal(copy.inf, -Infinity);
  assert.ok(Object.hasOwn(copy, 'u'));
  assert.equal(copy.u, undefined);
  assert.ok(Object.is(copy.list[1], -0));
  assert.ok(Object.hasOwn(copy.list, 0));
  assert.deepEqual(copy, { lone, neg: -0, nan: NaN, inf: -Infinity, u: undefined, n: null,
    t: true, f: false, list: [undefined, -0, 'x'], empty: {} });
  assert.equal(Object.getPrototypeOf(roundTrip(Object.create(null))), Object.prototype);
});

test('keys keep the engine order', () => {
  const source = { b: 1, 10: 1, a: 1, 2: 1, '-1': 1, '01': 1, 4294967295: 1 };
  assert.deepEqual(Object.keys(roundTrip(source)), Object.keys(source));
});

test('unpaired surrogates in appends and paths', () => {
  const e = new NativeMessageEncoder();
  e.update(1, { ['k\uDC00']: 'x\uD83D' }, false);
  const delta = e.update(2, { ['k\uDC00']: 'x\uD83D\uDE00\uD800' }, false);
  assert.deepEqual(delta.edits, [{ path: ['k\uDC00'], op: 'append', offset: 2, text: '\uDE00\uD800' }]);
  const astral = e.update(3, { ['k\uDC00']: 'x\uD83D\uDE00\uD800\u{1F600}' }, false);
  assert.deepEqual(astral.edits[0], { path: ['k\uDC00'], op: 'append', offset: 4, text: '\u{1F600}' });
});

test('negative zero and NaN as changes', () => {
  const e = new NativeMessageEncoder();
  e.update(1, [0, NaN, -0, 1], false);
  const delta = e.update(2, [-0, NaN, 0, NaN], false);
  assert.equal(delta.edits.length, 3);
  assert.deepEqual(delta.edits.map((x) => x.path[0]), [0, 2, 3]);
  assert.ok(Object.is(delta.edits[0].value, -0));
  assert.ok(Object.is(delta.edits[1].value, 0));
  assert.ok(Number.isNaN(delta.edits[2].value));
});

test('the message is never modified', () => {
  const bare = Object.create(null);
  bare.k = 'v';
  const message = { a: [1, { b: 'x' }], c: bare, d: JSON.parse('{"__proto__": 1}') };
  const snapshot = JSON.stringify(message);
  const e = new NativeMessageEncoder();
  e.update(1, message, false);
  e.update(2, message, false);
  assert.equal(JSON.stringify(message), snapshot);
  assert.equal(Object.getPrototypeOf(message.c), null);
  assert.equal(Object.getPrototypeOf(message.d), Object.prototype);
  assert.ok(Object.isExtensible(message) && !Object.isFrozen(message.a));
});

test('proxies are read like the objects they stand for, traps running once each', () => {
  const calls = [];
  const handler = {
    getPrototypeOf(t) { calls.push('getPrototypeOf'); return Reflect.getPrototypeOf(t); },
    get(t, k, r) { calls.push(`get ${String(k)}`); return Reflect.get(t, k, r); },
  };
  assert.deepEqual(roundTrip(new Proxy({ a: 1, b: [2] }, handler)), { a: 1, b: [2] });
  assert.deepEqual(calls, ['getPrototypeOf', 'get a', 'get b']);
  // A proxy for an array is not an array to the engine: its prototype makes it non-plain.
  assert.equal(refusal(new Proxy([1, 2], {})), TEXT.nonPlain);
  assert.equal(refusal({ list: new Proxy([], {}) }), TEXT.nonPlain);
  const lying = new Proxy([1, 2], { getPrototypeOf: () => Object.prototype });
  assert.deepEqual(roundTrip(lying), { 0: 1, 1: 2 });
  assert.equal(refusal(new Proxy(() => 1, {})), TEXT.unsupported);
  assert.equal(refusal(new Proxy(class {}, {})), TEXT.unsupported);
});

test('replacing builtins after loading changes nothing', () => {
  const saved = {
    keys: Object.keys,
    symbols: Object.getOwnPropertySymbols,
    getPrototypeOf: Object.getPrototypeOf,
    isArray: Array.isArray,
    push: Array.prototype.push,
    join: Array.prototype.join,
    slice: String.prototype.slice,
    defineProperty: Object.defineProperty,
  };
  const broken = () => { throw new Error('builtin replaced'); };
  const e = new NativeMessageEncoder();
  e.update(1, { a: 'x', list: [1] }, false);
  let delta;
  try {
    Object.keys = broken;
    Object.getOwnPropertySymbols = broken;
    Object.getPrototypeOf = broken;
    Array.isArray = broken;
    Array.prototype.push = broken;
    Array.prototype.join = broken;
    String.prototype.slice = broken;
    Object.defineProperty = broken;
    delta = e.update(2, { a: 'xy', list: [1, { b: 2 }], [Symbol('s')]: 1 }, false);
  } finally {
    Object.keys = saved.keys;
    Object.getOwnPropertySymbols = saved.symbols;
    Object.getPrototypeOf = saved.getPrototypeOf;
    Array.isArray = saved.isArray;
    Array.prototype.push = saved.push;
    Array.prototype.join = saved.join;
    String.prototype.slice = saved.slice;
    Object.defineProperty = saved.defineProperty;
  }
  assert.deepEqual(delta.edits, [
    { path: ['a'], op: 'append', offset: 1, text: 'y' },
    { path: ['list', 1], op: 'set', value: { b: 2 } },
  ]);
});

test('each object\'s keys are listed once, so a proxy\'s ownKeys trap runs once', () => {
  // A second listing would see other keys: more than the object budget allows.
  const many = Array.from({ length: 20_001 }, (_, i) => `k${i}`);
  let listings = 0;
  const shifting = new Proxy({ a: 1 }, {
    ownKeys(t) { listings++; return listings === 1 ? Reflect.ownKeys(t) : many; },
  });
  assert.deepEqual(roundTrip({ inner: shifting }), { inner: { a: 1 } });
  assert.equal(listings, 1);
  listings = 0;
  const list = new Proxy([1, 2], { ownKeys(t) { listings++; return Reflect.ownKeys(t); } });
  // A proxy is no array to the engine: refused by its prototype before its keys are listed.
  assert.equal(refusal(list), TEXT.nonPlain);
  assert.equal(listings, 0);
});

test('builtins replaced before the module loads change nothing', () => {
  // A fresh process, so that the module loads after the replacements.
  const child = `
    Object.keys = () => [];
    Array.isArray = () => false;
    Object.getOwnPropertySymbols = () => [];
    const { createRequire } = await import('node:module');
    const require = createRequire(import.meta.url);
    const { NativeMessageEncoder } = require(${JSON.stringify(path.join(process.env.QV_MODULE_DIR, 'quorvel_chat_codec.node'))});
    const refusal = (m) => { try { new NativeMessageEncoder().update(1, m, false); return null; } catch (e) { return e.message; } };
    const e = new NativeMessageEncoder();
    e.update(1, { a: 'x', list: [1] }, false);
    const delta = e.update(2, { a: 'xy', list: [1, { b: 2 }], [Symbol('s')]: 1 }, false);
    const wide = Object.fromEntries(Array.from({ length: 20_000 }, (_, i) => ['k' + i, 0]));
    wide[Symbol('s')] = 0;
    process.stdout.write(JSON.stringify({
      edits: delta.edits,
      date: refusal(new Date(0)),
      holes: refusal([1, , 3]),
      wide: refusal(wide),
    }));`;
  const run = spawnSync(process.execPath, ['--input-type=module', '-e', child], { encoding: 'utf8' });
  assert.equal(run.status, 0, run.stderr);
  assert.deepEqual(JSON.parse(run.stdout), {
    edits: [
      { path: ['a'], op: 'append', offset: 1, text: 'y' },
      { path: ['list', 1], op: 'set', value: { b: 2 } },
    ],
    date: TEXT.nonPlain,
    holes: TEXT.nonstandard,
    wide: TEXT.object,
  });
});

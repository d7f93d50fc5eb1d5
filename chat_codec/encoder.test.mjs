// NativeMessageEncoder as JavaScript sees it: states, arguments, errors, re-entry, output objects.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { NativeMessageEncoder, thrown } from './test_support.mjs';

const BORROWED = 'The same native value cannot be borrowed mutably while another borrow is active';

function holding(seq, message) {
  const encoder = new NativeMessageEncoder();
  assert.equal(encoder.update(seq, message, false), null);
  return encoder;
}

// The checkpoint is still the given message when an identical update yields no edits.
function assertCheckpoint(encoder, seq, message) {
  assert.equal(encoder.messageSeq, seq);
  assert.deepEqual(encoder.update(seq + 1, message, false), { baseSeq: seq, edits: [] });
}

test('class shape', () => {
  const proto = NativeMessageEncoder.prototype;
  for (const name of ['messageSeq', 'reset', 'update']) {
    const d = Object.getOwnPropertyDescriptor(proto, name);
    assert.ok(d, name);
    assert.equal(d.enumerable, true, name);
    assert.equal(d.configurable, true, name);
  }
  assert.equal(typeof Object.getOwnPropertyDescriptor(proto, 'messageSeq').get, 'function');
  assert.equal(Object.getOwnPropertyDescriptor(proto, 'messageSeq').set, undefined);
  assert.equal(Object.getOwnPropertyDescriptor(proto, 'update').writable, true);
  assert.throws(() => NativeMessageEncoder(), TypeError);
  assert.throws(() => proto.update.call({}, 1, {}, false));
  assert.throws(() => proto.reset.call(Object.create(proto)));
});

test('state transitions', () => {
  const e = new NativeMessageEncoder();
  assert.equal(e.messageSeq, null, 'new encoder is empty');
  assert.equal(e.update(5, { a: 1 }, false), null, 'first update is complete');
  assert.equal(e.messageSeq, 5);
  assert.deepEqual(e.update(6, { a: 1 }, false), { baseSeq: 5, edits: [] });
  assert.deepEqual(e.update(3, { a: 2 }, false), {
    baseSeq: 6,
    edits: [{ path: ['a'], op: 'set', value: 2 }],
  }, 'a lower sequence number is accepted');
  assert.equal(e.messageSeq, 3);
  assert.deepEqual(e.update(3, { a: 2 }, false), { baseSeq: 3, edits: [] }, 'an equal one too');

  assert.equal(e.update(10, { a: 'forced' }, true), null, 'forceComplete');
  assert.equal(e.messageSeq, 10);
  assert.deepEqual(e.update(11, { a: 'forced!' }, false), {
    baseSeq: 10,
    edits: [{ path: ['a'], op: 'append', offset: 6, text: '!' }],
  }, 'delta against the forced message');

  assert.equal(e.reset(), undefined);
  assert.equal(e.messageSeq, null);
  assert.equal(e.update(12, { a: 'forced!' }, false), null, 'after reset');

  const err = thrown(() => e.update(13, { f() {} }, false));
  assert.equal(err.message, 'Unsupported message value');
  assert.equal(err.code, 'GenericFailure');
  assert.equal(e.messageSeq, null, 'failed capture drops the checkpoint');
  assert.equal(e.update(14, { a: 1 }, false), null);

  const big = { list: Array.from({ length: 257 }, (_, i) => i) };
  assert.deepEqual(e.update(15, { list: [] }, false).edits, [
    { path: ['a'], op: 'remove' },
    { path: ['list'], op: 'set', value: [] },
  ]);
  assert.equal(e.update(16, big, false), null, '257 edits give up');
  assert.equal(e.messageSeq, 16);
  assert.deepEqual(e.update(17, { list: [...big.list, 'x'] }, false), {
    baseSeq: 16,
    edits: [{ path: ['list', 257], op: 'set', value: 'x' }],
  }, 'the give-up message is the checkpoint');
  const exactly = { list: Array.from({ length: 256 }, (_, i) => i) };
  e.update(18, { list: [] }, false);
  assert.equal(e.update(19, exactly, false).edits.length, 256, '256 edits are delivered');
});

// What the capture charges for a message, counted independently: 32 bytes per value and two per
// code unit of every string and key.
function charge(v) {
  if (typeof v === 'string') return 32 + 2 * v.length;
  if (v === null || typeof v !== 'object') return 32;
  if (Array.isArray(v)) return v.reduce((n, x) => n + charge(x), 32);
  return Object.entries(v).reduce((n, [k, x]) => n + 2 * k.length + charge(x), 32);
}

test('the key text copied into a delta\'s paths is bounded by the message\'s size', () => {
  // The allowance: twice the new message's charge plus 64 KiB, in bytes of key text.
  const allowance = (message) => 2 * charge(message) + 65_536;
  const keyBytes = (path) => path.reduce((n, s) => n + (typeof s === 'string' ? 2 * s.length : 0), 0);
  const pathBytes = (edits) => edits.reduce((n, e) => n + keyBytes(e.path), 0);
  // `changed` of 256 numbers below one key of `keyLength` units change; a string of `pad` units
  // beside them sets the message's size.
  const pair = (keyLength, changed, pad) => {
    const key = 'k'.repeat(keyLength);
    const p = 'x'.repeat(pad);
    return [{ [key]: Array(256).fill(0), p },
      { [key]: Array.from({ length: 256 }, (_, i) => (i < changed ? 1 : 0)), p }];
  };
  for (const [name, [before, after], over, delivered] of [
    ['exactly at the allowance', pair(162, 256, 45), 0, 256],
    ['one code unit past it', pair(163, 255, 90), 2, null],
  ]) {
    // The premise, from the independent charge: the changes' paths are exactly `over` past it.
    const keyLength = Object.keys(after)[0].length;
    const edits = delivered ?? 255;
    assert.equal(2 * keyLength * edits - allowance(after), over, name);
    const e = holding(1, before);
    const out = e.update(2, after, false);
    if (delivered === null) {
      assert.equal(out, null, name);
    } else {
      assert.equal(out.edits.length, delivered, name);
      assert.equal(pathBytes(out.edits), allowance(after), name);
    }
    assert.equal(e.messageSeq, 2, name);
    assertCheckpoint(e, 2, after);
  }

  // 256 leaves below 31 nested keys of 130,000 units: a message inside every budget whose delta
  // would copy about 2 GB of paths.
  const leaves = (value) => {
    let message = Array(256).fill(value);
    for (let i = 30; i >= 0; i--) message = { [String.fromCharCode(97 + i).repeat(130_000)]: message };
    return message;
  };
  const e = holding(1, leaves(0));
  assert.equal(e.update(2, leaves(1), false), null, 'deep long keys give up');
  assertCheckpoint(e, 2, leaves(1));
});

test('sequence numbers', () => {
  const valid = [0, -0, 1, 4294967295, 4294967296, 9007199254740991];
  for (const q of valid) {
    const e = new NativeMessageEncoder();
    assert.equal(e.update(q, 'x', false), null, String(q));
    assert.ok(Object.is(e.messageSeq, q === 0 ? 0 : q) || Object.is(e.messageSeq, q), String(q));
  }
  const invalid = [1.5, -1, 9007199254740992, NaN, Infinity, -Infinity, 2 ** 64, -0.5];
  for (const q of invalid) {
    const e = holding(1, 'x');
    let read = false;
    const err = thrown(() => e.update(q, { get a() { read = true; return 1; } }, false));
    assert.equal(read, false, `${q} is refused before the message is read`);
    assert.equal(err.message, 'Invalid message sequence', String(q));
    assert.equal(err.code, 'GenericFailure', String(q));
    assert.ok(err instanceof Error);
    assert.equal(e.messageSeq, null, `${q} drops the checkpoint`);
    assert.equal(e.update(2, 'x', false), null);
  }
});

test('argument conversion fails before anything is touched', () => {
  const cases = [
    { args: ['1', {}, false], code: 'NumberExpected', names: 'string' },
    { args: [1n, {}, false], code: 'NumberExpected', names: 'bigint' },
    { args: [undefined, {}, false], code: 'NumberExpected', names: 'undefined' },
    { args: [new Number(1), {}, false], code: 'NumberExpected', names: 'object' },
    { args: [1, {}], code: 'BooleanExpected', names: 'undefined' },
    { args: [1, {}, 0], code: 'BooleanExpected', names: 'number' },
    { args: [1, {}, 'true'], code: 'BooleanExpected', names: 'string' },
    { args: ['x', {}, 'y'], code: 'NumberExpected', names: 'string' },
    { args: [NaN, {}, null], code: 'BooleanExpected', names: 'null' },
  ];
  for (const { args, code, names } of cases) {
    const e = holding(7, { a: 1 });
    let read = false;
    args[1] = { get a() { read = true; return 1; } };
    const err = thrown(() => e.update(...args));
    assert.equal(err.code, code, String(args));
    assert.ok(err instanceof Error);
    assert.match(err.message, new RegExp(names), String(args));
    assert.equal(read, false, 'the message is not read');
    assertCheckpoint(e, 7, { a: 1 });
  }
});

test('nested use during an update is refused and the outer update carries on', () => {
  const e = holding(1, { a: 1, b: 1 });
  const seen = [];
  const message = {
    get a() {
      for (const [name, call] of [
        ['update', () => e.update(99, {}, false)],
        ['reset', () => e.reset()],
        ['messageSeq', () => e.messageSeq],
      ]) {
        const err = thrown(call);
        seen.push([name, err.message, err.code]);
      }
      return 2;
    },
    b: 1,
  };
  assert.deepEqual(e.update(2, message, false), {
    baseSeq: 1,
    edits: [{ path: ['a'], op: 'set', value: 2 }],
  });
  assert.deepEqual(seen, [
    ['update', BORROWED, 'InvalidArg'],
    ['reset', BORROWED, 'InvalidArg'],
    ['messageSeq', BORROWED, 'InvalidArg'],
  ]);
  assertCheckpoint(e, 2, { a: 2, b: 1 });

  // Another instance is independent and may be used meanwhile.
  const other = new NativeMessageEncoder();
  const inner = { get x() { return other.update(1, 'inner', false); } };
  assert.deepEqual(e.update(4, inner, false), {
    baseSeq: 3,
    edits: [{ path: ['a'], op: 'remove' }, { path: ['b'], op: 'remove' },
      { path: ['x'], op: 'set', value: null }],
  });
  assert.equal(other.messageSeq, 1);

  // An uncaught refusal leaves the getter like any exception and ends the outer update.
  const err = thrown(() => e.update(5, { get a() { return e.messageSeq; } }, false));
  assert.equal(err.message, BORROWED);
  assert.equal(err.code, 'InvalidArg');
  assert.equal(e.messageSeq, null);
});

test('a throwing getter reaches the caller unchanged and drops the checkpoint', () => {
  for (const value of [new RangeError('mine'), 'a string', 42, undefined]) {
    const e = holding(1, { a: 1 });
    let calls = 0;
    const message = { a: 1, nested: [{ get deep() { calls++; throw value; } }] };
    let caught = 'nothing';
    try {
      e.update(2, message, false);
    } catch (error) {
      caught = error;
    }
    assert.equal(caught, value);
    assert.equal(calls, 1);
    assert.equal(e.messageSeq, null);
  }
});

test('getters run once, in key order', () => {
  const order = [];
  const message = {
    get b() { order.push('b'); return { get c() { order.push('c'); return 1; } }; },
    get a() { order.push('a'); return 2; },
    get 1() { order.push('1'); return 3; },
  };
  const e = holding(1, {});
  e.update(2, message, false);
  assert.deepEqual(order, ['1', 'b', 'c', 'a']);
});

test('delta object shape', () => {
  const e = holding(1, { items: [0, 1, 2, { title: 'a' }], gone: 1, text: '', u: 1 });
  const delta = e.update(2, { items: [0, 1, 2, { title: 'b' }], text: 'hi', u: undefined }, false);
  assert.deepEqual(Object.keys(delta), ['baseSeq', 'edits']);
  assert.ok(Array.isArray(delta.edits));
  const [remove, set, append, setUndefined] = delta.edits;
  assert.deepEqual(Object.keys(remove), ['path', 'op']);
  assert.deepEqual(remove, { path: ['gone'], op: 'remove' });
  assert.deepEqual(Object.keys(set), ['path', 'op', 'value']);
  assert.deepEqual(set.path, ['items', 3, 'title']);
  assert.equal(typeof set.path[1], 'number');
  assert.deepEqual(Object.keys(append), ['path', 'op', 'offset', 'text']);
  assert.deepEqual(append, { path: ['text'], op: 'append', offset: 0, text: 'hi' });
  assert.ok(Object.hasOwn(setUndefined, 'value'));
  assert.equal(setUndefined.value, undefined);
  assert.equal(delta.edits.length, 4);
  assert.equal(Object.getPrototypeOf(delta), Object.prototype);

  const whole = e.update(3, 'root', false);
  assert.deepEqual(whole.edits, [{ path: [], op: 'set', value: 'root' }]);
});

test('set values are fresh copies', () => {
  const inner = { list: [1, { deep: true }], s: 'x' };
  const e = holding(1, {});
  const delta = e.update(2, { inner }, false);
  const value = delta.edits[0].value;
  assert.deepEqual(value, inner);
  assert.notEqual(value, inner);
  assert.notEqual(value.list, inner.list);
  value.list.push('mutated');
  value.s = 'changed';
  assert.deepEqual(e.update(3, { inner }, false).edits, [], 'the encoder kept its own copy');
  inner.list.push(3);
  assert.deepEqual(e.update(4, { inner }, false).edits,
    [{ path: ['inner', 'list', 2], op: 'set', value: 3 }], 'the caller\'s object is not retained');
});

test('__proto__ keys become own data properties of set values', () => {
  const withProto = JSON.parse('{"__proto__": {"polluted": true}, "a": 1}');
  const e = holding(1, {});
  const value = e.update(2, { v: withProto }, false).edits[0].value;
  assert.equal(Object.getPrototypeOf(value), Object.prototype);
  assert.deepEqual(Object.keys(value), ['__proto__', 'a']);
  const d = Object.getOwnPropertyDescriptor(value, '__proto__');
  assert.deepEqual(d, { value: { polluted: true }, writable: true, enumerable: true,
    configurable: true });
  assert.equal({}.polluted, undefined);
});

test('baseSeq stays an exact integer above 2^32', () => {
  const fromNegativeZero = holding(-0, 'a').update(1, 'ab', false);
  assert.ok(Object.is(fromNegativeZero.baseSeq, 0), 'a stored -0 is sent as 0');
  for (const q of [4294967295, 4294967296, 2 ** 40 + 1, 9007199254740991]) {
    const e = holding(q, 'a');
    const delta = e.update(0, 'ab', false);
    assert.equal(delta.baseSeq, q);
    assert.ok(Number.isInteger(delta.baseSeq));
    assert.equal(e.messageSeq, 0);
  }
});

// Runs `fn` while `target` has an extra property described by `descriptor`.
function withInherited(target, key, descriptor, fn) {
  Object.defineProperty(target, key, { configurable: true, ...descriptor });
  try {
    return fn();
  } finally {
    delete target[key];
  }
}

test('properties inherited from the context\'s prototypes are treated as assignment treats them',
  () => {
    // An inherited "get" must not turn the members of a set value into accessors.
    const e = holding(1, { a: 1 });
    const delta = withInherited(Object.prototype, 'get', { value() { return 0; }, writable: true },
      () => e.update(2, { a: { b: [1, { c: 'x' }] } }, false));
    assert.deepEqual(delta, { baseSeq: 1, edits: [{ path: ['a'], op: 'set',
      value: { b: [1, { c: 'x' }] } }] });

    // An index setter on arrays neither sees the long strings of a capture nor loses them.
    const long = 'long '.repeat(20);
    let intercepted = 0;
    const f = new NativeMessageEncoder();
    assert.equal(withInherited(Array.prototype, '0', { set() { intercepted++; } },
      () => f.update(1, { a: long, b: long }, false)), null);
    assert.equal(intercepted, 0);
    assert.deepEqual(f.update(2, { a: long, b: `${long}!` }, false).edits,
      [{ path: ['b'], op: 'append', offset: long.length, text: '!' }]);

    // A setter for "code" does not disturb refusals.
    const g = holding(1, { a: 1 });
    const refused = withInherited(Object.prototype, 'code', { set() {} },
      () => thrown(() => g.update(2, { f() {} }, false)));
    assert.equal(refused.message, 'Unsupported message value');
    assert.equal(g.messageSeq, null);

    // A read-only inherited property is left unset, as ordinary assignment leaves it.
    const h = holding(1, { a: 1 });
    const partial = withInherited(Object.prototype, 'op', { value: 'inherited', writable: false },
      () => h.update(2, { a: 2 }, false));
    assert.equal(partial.edits.length, 1);
    assert.equal(Object.hasOwn(partial.edits[0], 'op'), false);
    assert.deepEqual(Object.keys(partial.edits[0]), ['path', 'value']);
    assert.equal(h.messageSeq, 2);
    const k = holding(1, { a: [0] });
    const unset = withInherited(Array.prototype, '0', { value: 'inherited', writable: false },
      () => k.update(2, { a: [7] }, false));
    assert.equal(Object.hasOwn(unset.edits, 0), false);
    assert.equal(unset.edits.length, 1);
    assertCheckpoint(k, 2, { a: [7] });
  });

test('a failure while building the delta keeps the previous checkpoint', () => {
  const e = holding(1, { a: 'x' });
  const marker = new Error('setter refused');
  Object.defineProperty(Object.prototype, 'op', {
    configurable: true,
    set() { throw marker; },
  });
  let caught;
  try {
    e.update(2, { a: 'y' }, false);
  } catch (error) {
    caught = error;
  } finally {
    delete Object.prototype.op;
  }
  assert.equal(caught, marker);
  assertCheckpoint(e, 1, { a: 'x' });
});

test('a delta built while another delta is being built stays intact', () => {
  const outer = holding(1, { a: 'x', list: [1] });
  const inner = holding(1, { b: 1 });
  const innerDeltas = [];
  let nested = false;
  Object.defineProperty(Object.prototype, 'op', {
    configurable: true,
    set(value) {
      Object.defineProperty(this, 'op', { value, writable: true, enumerable: true,
        configurable: true });
      if (nested) return;
      nested = true;
      try {
        innerDeltas.push(inner.update(innerDeltas.length + 2, { b: innerDeltas.length + 2 },
          false));
      } finally {
        nested = false;
      }
    },
  });
  let delta;
  try {
    delta = outer.update(2, { a: 'xyz', list: [1, { deep: ['v'] }], c: null }, false);
  } finally {
    delete Object.prototype.op;
  }
  assert.deepEqual(delta, {
    baseSeq: 1,
    edits: [
      { path: ['a'], op: 'append', offset: 1, text: 'yz' },
      { path: ['list', 1], op: 'set', value: { deep: ['v'] } },
      { path: ['c'], op: 'set', value: null },
    ],
  });
  assert.equal(innerDeltas.length, 3);
  assert.deepEqual(innerDeltas.map((d) => d.edits[0].value), [2, 3, 4]);
});

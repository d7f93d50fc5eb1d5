// Differential property test: random sequences of chat-shaped messages go through one encoder;
// every delta, replayed by the small applier below on the previous message, must give the new
// message, and null must come exactly when the rules say so.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import fc from 'fast-check';

import { NativeMessageEncoder } from './test_support.mjs';

// ---- independent applier ----
function applyEdit(root, edit) {
  const { path, op } = edit;
  if (path.length === 0) {
    if (op === 'set') return edit.value;
    assert.equal(op, 'append');
    assert.equal(typeof root, 'string');
    assert.equal(root.length, edit.offset);
    return root + edit.text;
  }
  let parent = root;
  for (const segment of path.slice(0, -1)) {
    assert.ok(parent !== null && typeof parent === 'object', `path ${path} leads nowhere`);
    assert.ok(Object.hasOwn(parent, segment), `missing ${segment} in ${path}`);
    parent = parent[segment];
  }
  const last = path.at(-1);
  assert.ok(parent !== null && typeof parent === 'object');
  if (Array.isArray(parent)) {
    assert.equal(typeof last, 'number');
  } else {
    assert.equal(typeof last, 'string');
  }
  switch (op) {
    case 'set':
      assert.ok(!Array.isArray(parent) || last <= parent.length, 'no holes');
      Object.defineProperty(parent, last, {
        value: edit.value, writable: true, enumerable: true, configurable: true,
      });
      break;
    case 'remove':
      assert.ok(!Array.isArray(parent));
      assert.ok(Object.hasOwn(parent, last));
      delete parent[last];
      break;
    case 'append':
      assert.equal(typeof parent[last], 'string');
      assert.equal(parent[last].length, edit.offset);
      parent[last] += edit.text;
      break;
    default:
      assert.fail(`unknown op ${op}`);
  }
  return root;
}

// Deep equality with key order ignored; -0, NaN and undefined (present or absent) distinguished.
function same(a, b) {
  if (typeof a !== 'object' || a === null || typeof b !== 'object' || b === null) {
    return Object.is(a, b);
  }
  if (Array.isArray(a) !== Array.isArray(b)) return false;
  const ka = Object.keys(a);
  const kb = Object.keys(b);
  if (ka.length !== kb.length) return false;
  return ka.every((k) => Object.hasOwn(b, k) && same(a[k], b[k]));
}

// Copy that keeps -0, NaN, undefined members and own "__proto__" keys.
function clone(v) {
  if (typeof v !== 'object' || v === null) return v;
  if (Array.isArray(v)) return v.map(clone);
  const out = {};
  for (const k of Object.keys(v)) {
    Object.defineProperty(out, k, { value: clone(v[k]), writable: true, enumerable: true,
      configurable: true });
  }
  return out;
}

// ---- how many edits the rules need, counted independently of the native walk ----
function kind(v) {
  if (v === null) return 'null';
  if (Array.isArray(v)) return 'array';
  return typeof v;
}

function editCount(a, b) {
  if (kind(a) !== kind(b)) return 1;
  switch (kind(a)) {
    case 'undefined':
    case 'null':
      return 0;
    case 'number':
      return Object.is(a, b) ? 0 : 1;
    case 'array': {
      if (b.length < a.length) return 1;
      let n = b.length - a.length;
      for (let i = 0; i < a.length; i++) n += editCount(a[i], b[i]);
      return n;
    }
    case 'object': {
      const ka = Object.keys(a);
      const kb = Object.keys(b);
      let n = 0;
      for (const k of ka) if (!Object.hasOwn(b, k)) n++;
      for (const k of kb) n += Object.hasOwn(a, k) ? editCount(a[k], b[k]) : 1;
      return n;
    }
    default:
      return a === b ? 0 : 1;
  }
}

// ---- chat-shaped messages and their changes ----
const KEYS = ['type', 'text', 'id', 'input', 'name', 'a', 'b', '0', '7', '__proto__', 'k\uD800'];
const keyArb = fc.constantFrom(...KEYS);
const textArb = fc.oneof(
  fc.string({ maxLength: 6 }),
  fc.constantFrom('\uD83D', '\uDE00', '\u{1F600}', 'é', ' ', '\n'),
);
const leafArb = fc.oneof(
  fc.constantFrom(undefined, null, true, false, 0, -0, NaN, Infinity, 1.5, -7),
  fc.double(),
  textArb,
);
const { value: valueArb } = fc.letrec((tie) => ({
  value: fc.oneof({ depthSize: 'small', withCrossShrink: true },
    leafArb, tie('array'), tie('object')),
  array: fc.array(tie('value'), { maxLength: 4 }),
  object: fc.array(fc.tuple(keyArb, tie('value')), { maxLength: 4 }).map(toObject),
}));

function toObject(pairs) {
  const o = {};
  for (const [k, v] of pairs) {
    Object.defineProperty(o, k, { value: v, writable: true, enumerable: true, configurable: true });
  }
  return o;
}

const blockArb = fc.oneof(
  fc.record({ type: fc.constant('text'), text: textArb }),
  fc.record({ type: fc.constant('tool_use'), id: fc.string(), name: fc.string(),
    input: valueArb }),
);
const messageArb = fc.record({
  id: fc.string(),
  role: fc.constantFrom('assistant', 'user'),
  content: fc.array(blockArb, { maxLength: 4 }),
  meta: valueArb,
});

// Each step changes the previous message somewhere; `where` picks the spot.
const stepArb = fc.record({
  change: fc.constantFrom('grow', 'grow', 'grow', 'replace', 'remove', 'add', 'reorder',
    'push', 'truncate', 'kind', 'bulk', 'same'),
  where: fc.array(fc.nat(), { minLength: 1, maxLength: 6 }),
  text: textArb,
  value: valueArb,
  key: keyArb,
  bulk: fc.integer({ min: 200, max: 320 }),
  force: fc.nat(4).map((n) => n === 0),
  reset: fc.nat(20).map((n) => n === 0),
});

function containers(v, out = []) {
  if (v !== null && typeof v === 'object') {
    out.push(v);
    for (const k of Object.keys(v)) containers(v[k], out);
  }
  return out;
}

function change(previous, step) {
  const next = clone(previous);
  const spots = containers(next);
  const target = spots[step.where[0] % spots.length];
  const keys = Object.keys(target);
  const key = keys.length ? keys[step.where.at(-1) % keys.length] : undefined;
  switch (step.change) {
    case 'grow':
      if (key !== undefined && typeof target[key] === 'string') target[key] += step.text;
      else if (key !== undefined) target[key] = step.text;
      break;
    case 'replace':
      if (key !== undefined) target[key] = clone(step.value);
      break;
    case 'remove':
      if (key !== undefined && !Array.isArray(target)) delete target[key];
      break;
    case 'add':
      if (!Array.isArray(target)) {
        Object.defineProperty(target, step.key, { value: clone(step.value), writable: true,
          enumerable: true, configurable: true });
      }
      break;
    case 'reorder':
      if (!Array.isArray(target) && keys.length > 1) {
        const moved = keys[0];
        const value = target[moved];
        delete target[moved];
        Object.defineProperty(target, moved, { value, writable: true, enumerable: true,
          configurable: true });
      }
      break;
    case 'push':
      if (Array.isArray(target)) target.push(clone(step.value));
      break;
    case 'truncate':
      if (Array.isArray(target)) target.length = Math.max(0, target.length - 1);
      break;
    case 'kind':
      if (key !== undefined) target[key] = Array.isArray(target[key]) ? {} : [target[key]];
      break;
    case 'bulk':
      // Many new blocks at once: beyond 256 edits unless the list was cut just as much.
      if (!Array.isArray(next.content)) next.content = [];
      next.content.push(...Array.from({ length: step.bulk }, (_, i) => ({ type: 'text',
        text: String(i) })));
      break;
    default:
      break;
  }
  return next;
}

test('deltas replay the previous message into the new one', () => {
  let deltas = 0;
  let giveUps = 0;
  fc.assert(
    fc.property(messageArb, fc.array(stepArb, { minLength: 1, maxLength: 25 }), (first, steps) => {
      const encoder = new NativeMessageEncoder();
      let seq = 1;
      assert.equal(encoder.update(seq, first, false), null, 'no checkpoint yet');
      let previous = clone(first);
      let hasCheckpoint = true;
      for (const step of steps) {
        const message = change(previous, step);
        if (step.reset) {
          assert.equal(encoder.reset(), undefined);
          hasCheckpoint = false;
        }
        const baseSeq = seq;
        seq += 1 + (step.where[0] % 3);
        const needed = editCount(previous, message);
        const delta = encoder.update(seq, message, step.force);
        if (!hasCheckpoint || step.force || needed > 256) {
          assert.equal(delta, null);
          if (hasCheckpoint && !step.force) giveUps++;
        } else {
          assert.notEqual(delta, null, `${needed} edits should be delivered`);
          assert.equal(delta.baseSeq, baseSeq);
          assert.equal(delta.edits.length, needed);
          const replayed = delta.edits.reduce(applyEdit, clone(previous));
          assert.ok(same(replayed, message), 'replayed message differs');
          deltas++;
        }
        assert.equal(encoder.messageSeq, seq);
        hasCheckpoint = true;
        previous = clone(message);
      }
    }),
    { numRuns: 500 },
  );
  console.log(`checked ${deltas} deltas and ${giveUps} give-ups`);
  assert.ok(deltas > 1000, `only ${deltas} deltas were checked`);
  assert.ok(giveUps > 10, `only ${giveUps} give-ups were checked`);
});

test('the applier and the equality reject a wrong delta', () => {
  // The oracle itself must be able to fail, or the property above proves nothing.
  assert.ok(!same({ a: -0 }, { a: 0 }));
  assert.ok(!same({ a: undefined }, {}));
  assert.ok(same({ a: NaN, b: 1 }, { b: 1, a: NaN }));
  assert.ok(!same([1], { 0: 1 }));
  assert.throws(() => applyEdit({ s: 'ab' }, { path: ['s'], op: 'append', offset: 1, text: 'c' }));
  assert.throws(() => applyEdit([1], { path: [3], op: 'set', value: 1 }));
  const replayed = applyEdit({}, { path: ['__proto__'], op: 'set', value: 1 });
  assert.deepEqual(Object.keys(replayed), ['__proto__']);
});

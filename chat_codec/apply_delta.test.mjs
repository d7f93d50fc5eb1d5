// applyDelta against the real encoder: random streams of a chat message, sent to a peer as
// structured clones (complete when update answers null, else the delta), must leave the peer's
// copy equal to the sender's message after every update. Plus the edits that must be refused.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import fc from 'fast-check';

import { applyDelta, DeltaError } from '@quorvel/chat-delta';
import { NativeMessageEncoder } from './test_support.mjs';

// Frozen inputs make any write by applyDelta throw (modules run in strict mode).
function deepFreeze(value) {
  if (value !== null && typeof value === 'object' && !Object.isFrozen(value)) {
    Object.freeze(value);
    for (const key of Object.keys(value)) deepFreeze(value[key]);
  }
  return value;
}

const textArb = fc.oneof(
  fc.string({ maxLength: 8 }),
  fc.constantFrom('', '\u{1F600}', '\uD83D', '\uDE00', 'é', '\n'),
);
const { value: valueArb } = fc.letrec((tie) => ({
  value: fc.oneof({ depthSize: 'small' },
    fc.constantFrom(undefined, null, true, false, 0, -0, NaN), fc.double(), textArb,
    tie('array'), tie('object')),
  array: fc.array(tie('value'), { maxLength: 4 }),
  object: fc.array(fc.tuple(fc.constantFrom('a', 'b', '0', 'text', '__proto__'), tie('value')),
    { maxLength: 4 }).map((pairs) => {
    const object = {};
    for (const [key, value] of pairs) define(object, key, value);
    return object;
  }),
}));

function define(object, key, value) {
  Object.defineProperty(object, key, {
    value, writable: true, enumerable: true, configurable: true,
  });
}

function freshMessage(id) {
  return { id, role: 'assistant', content: [], stop_reason: null,
    usage: { input_tokens: 12, output_tokens: 0 } };
}

const stepArb = fc.record({
  change: fc.constantFrom('text', 'text', 'text', 'block', 'input', 'drop', 'usage', 'stop',
    'meta', 'nested', 'truncate', 'reorder', 'bulk', 'root'),
  text: textArb,
  value: valueArb,
  pick: fc.nat(),
  force: fc.nat(7).map((n) => n === 0),
  reset: fc.nat(15).map((n) => n === 0),
});

function containers(value, out = []) {
  if (value !== null && typeof value === 'object') {
    out.push(value);
    for (const key of Object.keys(value)) containers(value[key], out);
  }
  return out;
}

// The sender changes its message in place, as a streaming application does.
function change(message, step) {
  if (step.change === 'root') return typeof message === 'string' ? message + step.text : step.text;
  const m = typeof message === 'object' ? message : freshMessage(`m${step.pick}`);
  const last = m.content.at(-1);
  const tools = m.content.filter((block) => block.type === 'tool_use');
  switch (step.change) {
    case 'text':
      if (last?.type === 'text') last.text += step.text;
      else m.content.push({ type: 'text', text: step.text });
      break;
    case 'block':
      m.content.push(step.pick % 2
        ? { type: 'tool_use', id: `t${step.pick}`, name: 'search', input: {} }
        : { type: 'text', text: '' });
      break;
    case 'input':
      if (tools.length) define(tools.at(-1).input, ['query', 'limit', '__proto__'][step.pick % 3],
        step.value);
      break;
    case 'drop':
      if (tools.length) delete tools.at(-1).input[Object.keys(tools.at(-1).input)[0]];
      break;
    case 'usage':
      m.usage.output_tokens += 1 + (step.pick % 5);
      break;
    case 'stop':
      m.stop_reason = step.pick % 2 ? 'end_turn' : null;
      break;
    case 'meta':
      m.meta = step.value;
      break;
    case 'nested': {
      const spots = containers(m.meta);
      if (!spots.length) break;
      const spot = spots[step.pick % spots.length];
      if (Array.isArray(spot)) spot.push(step.value);
      else if (step.pick % 3 === 0) delete spot[Object.keys(spot)[0]];
      else define(spot, step.text, step.value);
      break;
    }
    case 'truncate':
      m.content.pop();
      break;
    case 'reorder':
      m.usage = Object.fromEntries(Object.entries(m.usage).reverse());
      break;
    case 'bulk':
      for (let i = 0; i < 300; i++) m.content.push({ type: 'text', text: String(i) });
      break;
    default:
      break;
  }
  return m;
}

test('a peer applying every delta holds the sender\'s message after every update', () => {
  let applied = 0;
  let completes = 0;
  let giveUps = 0;
  fc.assert(
    fc.property(fc.array(stepArb, { minLength: 1, maxLength: 40, size: 'max' }), (steps) => {
      const encoder = new NativeMessageEncoder();
      const peer = { seq: null, message: undefined };
      let message = freshMessage('m');
      let seq = 0;
      for (const step of [{ change: 'none', force: false, reset: false }, ...steps]) {
        message = change(message, step);
        if (step.reset) encoder.reset();
        seq += 1;
        const delta = encoder.update(seq, message, step.force);
        if (delta === null) {
          peer.message = deepFreeze(structuredClone(message));
          completes++;
          if (seq > 1 && !step.force && !step.reset) giveUps++;
        } else {
          assert.equal(delta.baseSeq, peer.seq, 'the delta is against the peer\'s version');
          peer.message = applyDelta(peer.message, deepFreeze(structuredClone(delta)));
          deepFreeze(peer.message);
          applied++;
        }
        peer.seq = seq;
        assert.deepEqual(peer.message, message);
      }
    }),
    { numRuns: 300 },
  );
  console.log(`applied ${applied} deltas; ${completes} complete messages (${giveUps} for size)`);
  assert.ok(applied > 3000, `only ${applied} deltas were applied`);
  assert.ok(giveUps > 10, `only ${giveUps} deltas were too large`);
});

test('edits that fit: own "__proto__" members, prototypes, growth at the end, sharing', () => {
  const untouched = { deep: [1] };
  const base = deepFreeze({ list: [0], keep: untouched, dict: Object.create(null) });
  const out = applyDelta(base, { baseSeq: 1, edits: [
    { path: ['__proto__'], op: 'set', value: { polluted: true } },
    { path: ['list', 1], op: 'set', value: 1 },
    { path: ['dict', 'k'], op: 'set', value: '' },
    { path: ['dict', 'k'], op: 'append', offset: 0, text: '\u{1F600}' },
    { path: ['dict', 'k'], op: 'append', offset: 2, text: '!' },
  ] });
  assert.deepEqual(Object.keys(out), ['list', 'keep', 'dict', '__proto__']);
  assert.equal(Object.getPrototypeOf(out), Object.prototype);
  assert.equal({}.polluted, undefined);
  assert.deepEqual(out.list, [0, 1]);
  assert.equal(Object.getPrototypeOf(out.dict), null);
  assert.equal(out.dict.k, '\u{1F600}!');
  assert.equal(out.keep, untouched, 'an untouched part is shared, not copied');
  assert.equal(applyDelta('ab', { baseSeq: 0, edits: [{ path: [], op: 'append', offset: 2,
    text: 'c' }] }), 'abc');
  assert.equal(applyDelta(base, { baseSeq: 0, edits: [] }), base);
});

test('an edit that does not fit is refused, naming its index and path', () => {
  const message = deepFreeze({ s: 'ab', n: 1, o: { a: {} }, list: [{ t: 'x' }] });
  const ok = { path: ['n'], op: 'set', value: 2 };
  const cases = [
    [{ path: ['o', 'b', 'c'], op: 'set', value: 1 }, /segment 1 \("b"\) names no member/],
    [{ path: ['list', 1, 't'], op: 'append', offset: 0, text: 'y' }, /segment 1 \(1\) is beyond/],
    [{ path: ['s', 'x'], op: 'set', value: 1 }, /segment 0 leads to a string/],
    [{ path: ['n', 0], op: 'remove' }, /segment 0 leads to a number/],
    [{ path: ['s'], op: 'append', offset: 1, text: 'c' }, /offset 1 to a string of length 2/],
    [{ path: ['s'], op: 'append', offset: 3, text: 'c' }, /offset 3 to a string of length 2/],
    [{ path: ['n'], op: 'append', offset: 0, text: 'c' }, /"append" to a number/],
    [{ path: ['missing'], op: 'append', offset: 0, text: 'c' }, /names no member/],
    [{ path: ['missing'], op: 'remove' }, /names no member/],
    [{ path: ['toString'], op: 'remove' }, /names no member/],
    [{ path: ['list', 0], op: 'remove' }, /not removed one by one/],
    [{ path: ['list', 2], op: 'set', value: 1 }, /index 2 is beyond the end/],
    [{ path: ['list', '0', 't'], op: 'set', value: 1 }, /is not an index/],
    [{ path: [0], op: 'set', value: 1 }, /is not a key/],
    [{ path: [], op: 'remove' }, /whole message cannot be removed/],
    [{ path: [], op: 'append', offset: 0, text: 'c' }, /"append" to an object/],
    [{ path: ['s'], op: 'move' }, /unknown op "move"/],
    [{ op: 'set', value: 1 }, /not an edit/],
  ];
  for (const [edit, reason] of cases) {
    assert.throws(() => applyDelta(message, { baseSeq: 0, edits: [ok, edit] }),
      (e) => e instanceof DeltaError && e.editIndex === 1 && e.path === edit.path &&
        reason.test(e.message) &&
        e.message.startsWith(`Edit 1 at path ${JSON.stringify(edit.path)} does not fit`),
      JSON.stringify(edit));
  }
  assert.throws(() => applyDelta(7, { baseSeq: 0, edits: [{ path: ['a'], op: 'remove' }] }),
    /Edit 0 at path \["a"\] does not fit the message: the message is a number/);
  assert.throws(() => applyDelta({}, null), TypeError);
  assert.throws(() => applyDelta({}, { baseSeq: 0 }), TypeError);
});

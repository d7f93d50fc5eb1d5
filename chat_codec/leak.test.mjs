// Encoders that are collected free their native state: memory reaches a plateau while many
// encoders holding checkpoints come and go (LeakSanitizer checks the same under the asan build).
import assert from 'node:assert/strict';
import { test } from 'node:test';
import { setImmediate as tick } from 'node:timers/promises';

import { NativeMessageEncoder } from './test_support.mjs';

const gc = globalThis.gc;
// Under AddressSanitizer freed memory sits in its quarantine, so resident size says nothing;
// LeakSanitizer checks the native state at exit instead, and fewer rounds keep the run short.
const sanitized = /libasan/.test(process.env.LD_PRELOAD ?? '');

// About 60 KB of native checkpoint per encoder.
function message(i) {
  return {
    id: `m${i}`,
    content: Array.from({ length: 40 }, (_, j) => ({
      type: 'text',
      text: `block ${j} `.repeat(70),
      input: { n: j, tags: ['a', 'b', String(i)] },
    })),
  };
}

async function collect() {
  for (let i = 0; i < 4; i++) {
    gc();
    await tick(); // finalizers of wrapped objects run after the collection
  }
}

test('collected encoders free their checkpoints', async () => {
  assert.equal(typeof gc, 'function', 'run with --expose-gc');
  let finalized = 0;
  const registry = new FinalizationRegistry(() => finalized++);
  const perRound = sanitized ? 100 : 400;
  const rounds = sanitized ? 6 : 12;

  const rssAfterRound = [];
  for (let round = 0; round < rounds; round++) {
    for (let i = 0; i < perRound; i++) {
      const encoder = new NativeMessageEncoder();
      encoder.update(1, message(i), false);
      encoder.update(2, message(i + 1), false);
      registry.register(encoder, i);
    }
    await collect();
    rssAfterRound.push(process.memoryUsage().rss);
  }
  await collect();
  // Roughly 25 MB of checkpoints are made per round; a leak would add that much every round.
  const growth = rssAfterRound.at(-1) - rssAfterRound[2];
  if (!sanitized) {
    assert.ok(growth < 40 * 1024 * 1024,
      `rss grew by ${(growth / 1048576).toFixed(1)} MB over ${rounds - 3} rounds`);
  }
  assert.ok(finalized >= perRound * (rounds - 1), `only ${finalized} encoders were collected`);
});

test('reset and replaced checkpoints free their trees', { skip: sanitized }, async () => {
  const encoder = new NativeMessageEncoder();
  const before = [];
  for (let round = 0; round < 8; round++) {
    for (let i = 0; i < 300; i++) {
      encoder.update(i, message(i), false);
      if (i % 3 === 0) encoder.reset();
    }
    await collect();
    before.push(process.memoryUsage().rss);
  }
  const growth = before.at(-1) - before[1];
  assert.ok(growth < 20 * 1024 * 1024, `rss grew by ${(growth / 1048576).toFixed(1)} MB`);
});

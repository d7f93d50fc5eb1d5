// An encoder's native memory is what its checkpoint needs, whatever shapes came before: a large
// container moving through the tree must not leave its capacity behind at every position it
// visited, and reset() gives back everything the encoder holds. The memory is native, so the
// garbage collector never reacts to it; resident size is what shows it. Each case runs in a
// process of its own, so that memory freed by one case cannot hide the growth of the next.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { test } from 'node:test';
import { setImmediate as tick } from 'node:timers/promises';
import { fileURLToPath } from 'node:url';

import { NativeMessageEncoder } from './test_support.mjs';

const MiB = 1024 * 1024;
// What one captured value occupies in its parent's storage (a tagged union the size of a
// 16-bit string); the checkpoint plus the containers kept for the next capture need about
// twice the tree's values.
const VALUE_BYTES = 40;

// Resident memory outside the engine's heap. The heap grows in steps of several MiB with the
// garbage every capture leaves (key lists, handles), with or without a checkpoint, so it is
// taken out; what remains is native memory, the codec's included.
async function native() {
  for (let i = 0; i < 4; i++) {
    globalThis.gc();
    await tick();
  }
  const { rss, heapTotal } = process.memoryUsage();
  return rss - heapTotal;
}

// Runs `updates` updates of messages(k) on one encoder and measures the native growth between
// the end of a warm-up (the first tenth) and the end, with what the largest checkpoint needs.
async function shape(messages, updates) {
  const encoder = new NativeMessageEncoder();
  const warmup = Math.floor(updates / 10);
  let values = 0;
  let start = 0;
  for (let k = 0; k < updates; k++) {
    if (k === warmup) start = await native();
    const message = messages(k);
    values = Math.max(values, message.length + message.reduce((n, a) => n + a.length, 0) + 1);
    encoder.update(k, message, false);
  }
  return { grown: (await native()) - start, need: 2 * values * VALUE_BYTES };
}

const numbers = (n) => Array.from({ length: n }, (_, i) => i);

const CASES = {
  // Message k: k empty arrays, then one array of 10,000 numbers.
  growingRun() {
    const tail = numbers(10_000);
    return shape((k) => [...Array.from({ length: k }, () => []), tail], 500);
  },
  // One array of 12,000 numbers at a new place among 6,000 empty ones on every update.
  moving() {
    const large = numbers(12_000);
    const small = Array.from({ length: 6_000 }, () => []);
    return shape((k) => small.toSpliced((k * 12) % small.length, 0, large), 500);
  },
  // Encoders holding a checkpoint and the replaced one's containers, then reset.
  async reset() {
    const big = numbers(19_000);
    const fill = (encoders) => {
      for (const encoder of encoders) {
        encoder.update(1, [big], false);
        encoder.update(2, [big, []], false);
        encoder.update(3, [big], false);
      }
    };
    const make = () => Array.from({ length: 32 }, () => new NativeMessageEncoder());
    // A first round, collected with its encoders, lets the engine's heap grow to what the
    // captures' garbage needs before anything is measured.
    fill(make());
    const encoders = make();
    const before = await native();
    fill(encoders);
    const held = (await native()) - before;
    for (const encoder of encoders) encoder.reset();
    const kept = (await native()) - before;
    return { held, kept, need: encoders.length * 2 * 19_000 * VALUE_BYTES };
  },
};

const mib = (bytes) => `${(bytes / MiB).toFixed(1)} MiB`;

function inChild(name) {
  const out = execFileSync(process.execPath, ['--expose-gc', fileURLToPath(import.meta.url)], {
    env: { ...process.env, QV_MEMORY_CASE: name },
    encoding: 'utf8',
  });
  return JSON.parse(out);
}

if (process.env.QV_MEMORY_CASE) {
  process.stdout.write(JSON.stringify(await CASES[process.env.QV_MEMORY_CASE]()));
} else {
  // Under AddressSanitizer freed memory sits in its quarantine, so resident size says nothing.
  const sanitized = /libasan/.test(process.env.LD_PRELOAD ?? '');

  test('memory stays bounded while the shape of the message changes', { skip: sanitized },
    async (t) => {
      for (const [name, label] of [
        ['growingRun', 'one large array after a growing run of empty ones, 500 updates'],
        ['moving', 'one large array moving among 6,000 small ones, 500 updates'],
      ]) {
        await t.test(label, () => {
          const { grown, need } = inChild(name);
          // Allocator and engine noise stays within a few MiB; containers kept at every
          // position a large one visited grow the process by hundreds.
          const bound = 16 * MiB + 4 * need;
          assert.ok(grown < bound,
            `grew ${mib(grown)}; the checkpoint needs about ${mib(need)}, bound ${mib(bound)}`);
        });
      }
    });

  test('reset gives back the checkpoint and every kept container', { skip: sanitized }, () => {
    const { held, kept, need } = inChild('reset');
    // The measurement means something only if the held memory showed up at all.
    assert.ok(held > need / 2, `only ${mib(held)} held, expected about ${mib(need)}`);
    assert.ok(kept < held / 4, `${mib(kept)} of ${mib(held)} still resident after reset()`);
  });
}

// Cost per update and bytes sent for chat-shaped workloads: the native encoder against sending
// the complete message and against two JavaScript diff libraries that keep a cloned checkpoint.
// Run: node bench/chat_codec/bench.mjs [--quick]   (QV_MODULE_DIR or QV_BUILD_DIR names the build)
import { createRequire } from 'node:module';
import path from 'node:path';

import jsonPatch from 'fast-json-patch';
import microdiff from 'microdiff';

const require = createRequire(import.meta.url);
const moduleDir = process.env.QV_MODULE_DIR ??
  path.join(process.env.QV_BUILD_DIR ?? 'build/default', 'modules');
const { NativeMessageEncoder } = require(path.resolve(moduleDir, 'quorvel_chat_codec.node'));

const quick = process.argv.includes('--quick');
// QV_CHAT_CODEC_CAPTURE=native measures the module's fallback that uses Node-API calls only.
console.log(`encoder route: ${process.env.QV_CHAT_CODEC_CAPTURE === 'native'
  ? 'Node-API calls only (fallback)' : 'default (engine-side helpers)'}`);
const repeats = quick ? 1 : 7;

// ---- workloads: a message and a function that changes it in place for update i ----
const WORDS = 'the quick brown fox jumps over a lazy dog while streaming tokens arrive '.split(' ');

function streamedText(i) {
  return `${WORDS[i % WORDS.length]} `.slice(0, 3 + (i % 3));
}

function assistantGrowing() {
  const message = {
    id: 'msg_01', type: 'message', role: 'assistant', model: 'model-a',
    content: [{ type: 'text', text: '' }],
    stop_reason: null, usage: { input_tokens: 1200, output_tokens: 0 },
  };
  let i = 0;
  const steps = [];
  while (steps.length === 0 || message.content[0].text.length < 8000) {
    const piece = streamedText(i++);
    steps.push(piece);
    message.content[0].text += piece;
  }
  message.content[0].text = '';
  return {
    name: '(a) text grows to 8,000 chars',
    message,
    updates: steps.length,
    change(m, k) {
      m.content[0].text += steps[k];
      m.usage.output_tokens = k + 1;
    },
  };
}

function toolBlock(i) {
  return {
    type: 'tool_use', id: `toolu_${i}`, name: i % 2 ? 'read_file' : 'search',
    input: {
      path: `/home/user/project/src/file_${i}.ts`,
      options: { recursive: true, depth: i, include: ['*.ts', '*.tsx'], exclude: { dirs: ['node_modules'] } },
      query: `symbol_${i}`,
    },
  };
}

function manyBlocks() {
  const content = [];
  for (let i = 0; i < 20; i++) {
    content.push(i % 2 ? toolBlock(i) : { type: 'text', text: `Earlier paragraph ${i}. `.repeat(12) });
  }
  content.push({ type: 'text', text: '' });
  const message = { id: 'msg_02', role: 'assistant', content, stop_reason: null };
  return {
    name: '(b) 20 earlier blocks, last text grows',
    message,
    updates: 1500,
    change(m, k) {
      m.content[20].text += streamedText(k);
    },
  };
}

// Counted as the capture charges: one per value, one more per string value, one per key.
function nodes(v) {
  if (typeof v === 'string') return 2;
  if (v === null || typeof v !== 'object') return 1;
  if (Array.isArray(v)) return 1 + v.reduce((n, x) => n + nodes(x), 0);
  return 1 + Object.keys(v).reduce((n, k) => n + 1 + nodes(v[k]), 0);
}

function largeTree() {
  const rows = [];
  const message = { id: 'msg_03', role: 'assistant', content: [{ type: 'tool_result', rows }] };
  while (nodes(message) < 19000 - 13) {
    const i = rows.length;
    rows.push({ id: i, name: `row ${i}`, done: i % 3 === 0, meta: { score: i / 7, tag: 't' } });
  }
  return {
    name: `(c) ${nodes(message)} nodes, one field changes`,
    message,
    updates: 400,
    change(m, k) {
      const row = rows[(k * 37) % rows.length];
      row.meta.score = k;
    },
  };
}

// ---- approaches: each returns what would be sent, or null for the complete message ----
function nativeEncoder() {
  const encoder = new NativeMessageEncoder();
  let seq = 0;
  return {
    name: 'native encoder',
    update: (m) => encoder.update(++seq, m, false),
    sent: (out, m) => JSON.stringify(out ?? m).length,
  };
}

function completeMessage() {
  return {
    name: 'JSON.stringify (complete)',
    update: (m) => JSON.stringify(m),
    sent: (out) => out.length,
  };
}

function fastJsonPatch() {
  let previous = null;
  return {
    name: 'fast-json-patch compare + structuredClone',
    update(m) {
      const patch = previous === null ? null : jsonPatch.compare(previous, m);
      previous = structuredClone(m);
      return patch;
    },
    sent: (out, m) => JSON.stringify(out ?? m).length,
  };
}

function microdiffClone() {
  let previous = null;
  return {
    name: 'microdiff + structuredClone',
    update(m) {
      const diff = previous === null ? null : microdiff(previous, m);
      previous = structuredClone(m);
      return diff;
    },
    sent: (out, m) => JSON.stringify(out ?? m).length,
  };
}

const APPROACHES = [nativeEncoder, completeMessage, fastJsonPatch, microdiffClone];

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

// One pass of a workload through one approach; the first update (no checkpoint) is not timed.
function run(makeWorkload, makeApproach, samples, sizes) {
  const workload = makeWorkload();
  const approach = makeApproach();
  approach.update(workload.message);
  for (let k = 0; k < workload.updates; k++) {
    workload.change(workload.message, k);
    const start = process.hrtime.bigint();
    const out = approach.update(workload.message);
    samples.push(Number(process.hrtime.bigint() - start));
    if (sizes) sizes.push(approach.sent(out, workload.message));
  }
  return workload.name;
}

function fmt(ns) {
  return ns >= 1e6 ? `${(ns / 1e6).toFixed(2)} ms` : `${(ns / 1e3).toFixed(2)} us`;
}

const results = [];
for (const makeWorkload of [assistantGrowing, manyBlocks, largeTree]) {
  const stats = APPROACHES.map(() => ({ samples: [], sizes: [] }));
  let name = '';
  for (let r = 0; r < repeats; r++) {
    // Alternate the order so that warm-up and collection fall on every approach alike.
    const order = r % 2 ? [...APPROACHES.keys()].reverse() : [...APPROACHES.keys()];
    for (const a of order) name = run(makeWorkload, APPROACHES[a], stats[a].samples, r === 0 ? stats[a].sizes : null);
  }
  console.log(`\n${name} (${stats[0].sizes.length} updates, ${repeats} runs)`);
  console.log(`${'approach'.padEnd(44)}${'median/update'.padStart(14)}${'mean bytes sent'.padStart(17)}`);
  const rows = APPROACHES.map((make, a) => ({
    name: make().name,
    median: median(stats[a].samples),
    bytes: stats[a].sizes.reduce((x, y) => x + y, 0) / stats[a].sizes.length,
  }));
  for (const row of rows) {
    console.log(`${row.name.padEnd(44)}${fmt(row.median).padStart(14)}${row.bytes.toFixed(0).padStart(17)}`);
  }
  const [native, complete, patch, diff] = rows;
  const timeRatio = native.median / patch.median;
  const bytesRatio = complete.bytes / native.bytes;
  console.log(`ratios: native/fast-json-patch time ${timeRatio.toFixed(2)}, ` +
    `native/microdiff time ${(native.median / diff.median).toFixed(2)}, ` +
    `native/complete time ${(native.median / complete.median).toFixed(2)}, ` +
    `complete/native bytes ${bytesRatio.toFixed(1)}`);
  results.push({ name, timeRatio, bytesRatio });
}

// The targets: time at most fast-json-patch's on (b) and 1.2 times it on (a) and (c); the
// delta at most 1/25 of the complete message on (a) and (b).
console.log('\ntargets:');
const [a, b, c] = results;
for (const [label, ok] of [
  [`(a) time ratio ${a.timeRatio.toFixed(2)} <= 1.2`, a.timeRatio <= 1.2],
  [`(b) time ratio ${b.timeRatio.toFixed(2)} <= 1.0`, b.timeRatio <= 1.0],
  [`(c) time ratio ${c.timeRatio.toFixed(2)} <= 1.2`, c.timeRatio <= 1.2],
  [`(a) bytes ratio ${a.bytesRatio.toFixed(1)} >= 25`, a.bytesRatio >= 25],
  [`(b) bytes ratio ${b.bytesRatio.toFixed(1)} >= 25`, b.bytesRatio >= 25],
]) {
  console.log(`  ${ok ? 'met    ' : 'MISSED '} ${label}`);
}

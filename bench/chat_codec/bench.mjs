// Cost per update and bytes sent for chat-shaped workloads: the native encoder against the floor
// of reading the same message through Node-API (a bare traversal that only reads every value),
// against a JavaScript diff library that keeps a cloned checkpoint, and against serialising the
// complete message. Updates of the measured approaches are interleaved, so load changes on the
// machine fall on all of them alike.
// The end-to-end rows follow each update from the sender's message to the receiver's copy in a
// second process (receiver.mjs): encode, JSON.stringify, a pipe, JSON.parse and the receiving
// side's apply, for the native encoder with applyDelta, fast-json-patch with applyPatch, and the
// complete message, whose row is their baseline.
// Run: node bench/chat_codec/bench.mjs [--quick]
//   QV_MODULE_DIR (or QV_BUILD_DIR) names the build; QV_BENCH_TRAVERSE the traversal module.
import { spawn } from 'node:child_process';
import { createHash } from 'node:crypto';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { fileURLToPath } from 'node:url';

import jsonPatch from 'fast-json-patch';
import microdiff from 'microdiff';

const require = createRequire(import.meta.url);
const buildDir = process.env.QV_BUILD_DIR ?? 'build/default';
const moduleDir = process.env.QV_MODULE_DIR ?? path.join(buildDir, 'modules');
const { NativeMessageEncoder } = require(path.resolve(moduleDir, 'quorvel_chat_codec.node'));
const { traverse, threadCpuNs } = require(path.resolve(process.env.QV_BENCH_TRAVERSE ??
  path.join(buildDir, 'bench/chat_codec/bench_chat_codec_traverse.node')));

const quick = process.argv.includes('--quick');
const repeats = quick ? 1 : 7;
console.log(`CPU and wall time per update are medians; load average ${os.loadavg().map((x) => x.toFixed(2)).join(' ')}, ` +
  `${os.cpus().length} CPUs, ${repeats} runs per workload`);

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

function bareTraversal() {
  return {
    name: 'bare Node-API traversal (reads only)',
    update: (m) => traverse(m),
    sent: null,
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

const APPROACHES = [nativeEncoder, bareTraversal, fastJsonPatch, completeMessage, microdiffClone];

function median(values) {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
}

// One pass of a workload through every approach, update by update: each approach follows its own
// copy of the message, and at every step they run one after another in a rotating order. The
// first update (no checkpoint yet) is not timed.
function run(makeWorkload, stats, pass) {
  const lanes = APPROACHES.map((make) => ({ workload: makeWorkload(), approach: make() }));
  for (const { workload, approach } of lanes) approach.update(workload.message);
  const { updates } = lanes[0].workload;
  for (let k = 0; k < updates; k++) {
    for (let j = 0; j < lanes.length; j++) {
      const a = (j + k + pass) % lanes.length;
      const { workload, approach } = lanes[a];
      workload.change(workload.message, k);
      const cpu = threadCpuNs();
      const start = process.hrtime.bigint();
      const out = approach.update(workload.message);
      const wall = Number(process.hrtime.bigint() - start);
      stats[a].cpu.push(threadCpuNs() - cpu - clockCost);
      stats[a].samples.push(wall);
      if (pass === 0 && approach.sent) stats[a].sizes.push(approach.sent(out, workload.message));
    }
  }
  return lanes[0].workload;
}

// What reading the thread's CPU clock around a call adds by itself, taken off every CPU sample.
const clockCost = (() => {
  const costs = [];
  for (let i = 0; i < 2000; i++) {
    const cpu = threadCpuNs();
    process.hrtime.bigint();
    process.hrtime.bigint();
    costs.push(threadCpuNs() - cpu);
  }
  return median(costs);
})();

function fmt(ns) {
  return ns >= 1e6 ? `${(ns / 1e6).toFixed(2)} ms` : `${(ns / 1e3).toFixed(2)} us`;
}

const results = [];
for (const makeWorkload of [assistantGrowing, manyBlocks, largeTree]) {
  const stats = APPROACHES.map(() => ({ samples: [], cpu: [], sizes: [] }));
  let workload = null;
  for (let r = 0; r < repeats; r++) workload = run(makeWorkload, stats, r);
  const count = nodes(workload.message);
  console.log(`\n${workload.name}: ${count} nodes, ${workload.updates} updates`);
  console.log(`${'approach'.padEnd(44)}${'CPU/update'.padStart(12)}${'ns/node'.padStart(9)}` +
    `${'wall/update'.padStart(13)}${'ns/node'.padStart(9)}${'mean bytes sent'.padStart(17)}`);
  const rows = APPROACHES.map((make, a) => ({
    name: make().name,
    median: median(stats[a].cpu),
    wall: median(stats[a].samples),
    bytes: stats[a].sizes.length
      ? stats[a].sizes.reduce((x, y) => x + y, 0) / stats[a].sizes.length : null,
  }));
  for (const row of rows) {
    console.log(`${row.name.padEnd(44)}${fmt(row.median).padStart(12)}` +
      `${(row.median / count).toFixed(1).padStart(9)}${fmt(row.wall).padStart(13)}` +
      `${(row.wall / count).toFixed(1).padStart(9)}` +
      `${(row.bytes === null ? '-' : row.bytes.toFixed(0)).padStart(17)}`);
  }
  const [native, bare, patch, complete, diff] = rows;
  const floorRatio = native.median / bare.median;
  const bytesShare = native.bytes / complete.bytes;
  console.log(`ratios (CPU): native/traversal ${floorRatio.toFixed(2)} ` +
    `(wall ${(native.wall / bare.wall).toFixed(2)}), ` +
    `native/fast-json-patch ${(native.median / patch.median).toFixed(2)}, ` +
    `native/JSON.stringify ${(native.median / complete.median).toFixed(2)}, ` +
    `native/microdiff ${(native.median / diff.median).toFixed(2)}; ` +
    `delta/complete bytes 1/${(1 / bytesShare).toFixed(1)}`);
  results.push({ floorRatio, bytesShare });
}

// ---- end to end: from the sender's message to the receiver's copy, through a pipe ----
// Each approach turns an update into one line for its receiver (see receiver.mjs).
const END_TO_END = [
  () => {
    const encoder = new NativeMessageEncoder();
    let seq = 0;
    return {
      name: 'native encoder + applyDelta',
      line(m) {
        const delta = encoder.update(++seq, m, false);
        return delta === null ? `c${JSON.stringify(m)}` : `d${JSON.stringify(delta)}`;
      },
    };
  },
  () => {
    let previous = null;
    return {
      name: 'fast-json-patch compare + applyPatch',
      line(m) {
        const patch = previous === null ? null : jsonPatch.compare(previous, m);
        previous = structuredClone(m);
        return patch === null ? `c${JSON.stringify(m)}` : `p${JSON.stringify(patch)}`;
      },
    };
  },
  () => ({ name: 'complete message (baseline)', line: (m) => `c${JSON.stringify(m)}` }),
];

function receiver() {
  const script = fileURLToPath(new URL('./receiver.mjs', import.meta.url));
  const child = spawn(process.execPath, [script], { stdio: ['pipe', 'pipe', 'inherit'] });
  const answers = readline.createInterface({ input: child.stdout })[Symbol.asyncIterator]();
  return {
    send: (line) => child.stdin.write(`${line}\n`),
    answer: async () => (await answers.next()).value,
    close: () => child.stdin.end(),
  };
}

const digest = (m) => createHash('sha256').update(JSON.stringify(m)).digest('hex');

// One stream of a workload's updates to a receiver; the first, complete message is sent before
// the clocks start. The lines are written as they are made and reach the pipe while the sender
// waits for the answer, so wall time is the sender's and the receiver's work in turn. CPU time
// is both processes'. The receiver's copy must equal the sender's message at the end.
async function stream(makeWorkload, make, link, limit) {
  const workload = makeWorkload();
  const approach = make();
  link.send(approach.line(workload.message));
  link.send('a');
  await link.answer();
  const updates = Math.min(workload.updates, limit);
  const cpu = process.cpuUsage();
  const start = process.hrtime.bigint();
  for (let k = 0; k < updates; k++) {
    workload.change(workload.message, k);
    link.send(approach.line(workload.message));
  }
  link.send('e');
  const reply = JSON.parse(await link.answer());
  const wall = Number(process.hrtime.bigint() - start);
  const used = process.cpuUsage(cpu);
  if (reply.digest !== digest(workload.message)) {
    throw new Error(`${approach.name}: the receiver's copy differs from the message sent`);
  }
  return { wall: wall / updates, cpu: (used.user + used.system + reply.cpuUs) * 1000 / updates };
}

const links = END_TO_END.map(() => receiver());
const e2eRepeats = quick ? 1 : 3;
const e2eLimit = quick ? 40 : Infinity;
console.log('\nend to end per update: encode, JSON.stringify, pipe, JSON.parse, apply ' +
  `(CPU of both processes; median of ${e2eRepeats} stream(s) each)`);
for (const makeWorkload of [assistantGrowing, manyBlocks, largeTree]) {
  const samples = END_TO_END.map(() => ({ wall: [], cpu: [] }));
  for (let r = 0; r < e2eRepeats; r++) {
    for (let j = 0; j < END_TO_END.length; j++) {
      const a = (j + r) % END_TO_END.length;
      const { wall, cpu } = await stream(makeWorkload, END_TO_END[a], links[a], e2eLimit);
      samples[a].wall.push(wall);
      samples[a].cpu.push(cpu);
    }
  }
  const rows = END_TO_END.map((make, a) => ({
    name: make().name, cpu: median(samples[a].cpu), wall: median(samples[a].wall),
  }));
  const base = rows.at(-1);
  console.log(`\n${makeWorkload().name}, end to end`);
  console.log(`${'approach'.padEnd(44)}${'CPU/update'.padStart(12)}${'wall/update'.padStart(13)}` +
    `${'CPU vs baseline'.padStart(17)}`);
  for (const row of rows) {
    console.log(`${row.name.padEnd(44)}${fmt(row.cpu).padStart(12)}${fmt(row.wall).padStart(13)}` +
      `${(row.cpu / base.cpu).toFixed(2).padStart(17)}`);
  }
  console.log(`ratios (CPU, end to end) against the complete message: ` +
    rows.slice(0, -1).map((row) => `${row.name} ${(row.cpu / base.cpu).toFixed(2)} ` +
      `(wall ${(row.wall / base.wall).toFixed(2)})`).join(', '));
}
for (const link of links) link.close();

// The targets: the encoder within 1.3 times the bare traversal on every workload (CPU time), and
// the delta at most 1/25 of the complete message on the streaming workloads (a) and (b).
console.log('\ntargets:');
const [a, b, c] = results;
for (const [label, ok] of [
  [`(a) native/traversal ${a.floorRatio.toFixed(2)} <= 1.3`, a.floorRatio <= 1.3],
  [`(b) native/traversal ${b.floorRatio.toFixed(2)} <= 1.3`, b.floorRatio <= 1.3],
  [`(c) native/traversal ${c.floorRatio.toFixed(2)} <= 1.3`, c.floorRatio <= 1.3],
  [`(a) delta bytes 1/${(1 / a.bytesShare).toFixed(1)} <= 1/25`, a.bytesShare <= 1 / 25],
  [`(b) delta bytes 1/${(1 / b.bytesShare).toFixed(1)} <= 1/25`, b.bytesShare <= 1 / 25],
]) {
  console.log(`  ${ok ? 'met    ' : 'MISSED '} ${label}`);
}

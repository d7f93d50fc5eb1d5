// The three packages as an application takes them in: packed by scripts/pack.sh, installed from
// the tarballs into a fresh application folder outside the source tree, and used there through
// require, import and the TypeScript compiler; publint and the types checker judge each tarball.
import assert from 'node:assert/strict';
import { execFileSync, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const bin = (name) => path.join(root, 'node_modules', '.bin', name);
const tsc = path.join(root, 'node_modules', 'typescript', 'bin', 'tsc');
const PACKAGES = ['chat-delta', 'chat-codec', 'macos-services'];

let work;
let app;
const tarballs = {};

function run(command, args, options = {}) {
  const result = spawnSync(command, args, { encoding: 'utf8', ...options });
  if (result.error) throw result.error;
  return { status: result.status, output: `${result.stdout}${result.stderr}`, stdout: result.stdout };
}

function node(file, options = {}) {
  const result = run(process.execPath, [file], { cwd: app, ...options });
  assert.equal(result.status, 0, result.output);
  return result.stdout;
}

function write(file, text) {
  fs.writeFileSync(path.join(app, file), text);
}

before(() => {
  work = fs.mkdtempSync(path.join(os.tmpdir(), 'qv-packages-'));
  const out = path.join(work, 'tarballs');
  const pack = run('bash', [path.join(root, 'scripts', 'pack.sh'), out], { cwd: root });
  assert.equal(pack.status, 0, pack.output);
  for (const name of PACKAGES) {
    tarballs[name] = path.join(out, `quorvel-${name}-0.1.0.tgz`);
    assert.ok(fs.existsSync(tarballs[name]), `${name} was not packed: ${pack.output}`);
  }
  // The application: its own package.json, nothing of the source tree in reach.
  app = path.join(work, 'app');
  fs.mkdirSync(app);
  write('package.json', `${JSON.stringify({ name: 'qv-app', version: '1.0.0', private: true })}\n`);
  const install = run('npm', ['install', '--prefer-offline', '--no-audit', '--no-fund',
    '--loglevel=error', ...PACKAGES.map((name) => tarballs[name])], { cwd: app });
  assert.equal(install.status, 0, install.output);
});

after(() => {
  if (work) fs.rmSync(work, { recursive: true, force: true });
});

test('each tarball holds the files the run time loads and their declarations, no sources or tests', () => {
  const platform = `${process.platform}-${process.arch}`;
  const expected = {
    'chat-delta': ['index.cjs', 'index.d.cts', 'index.d.mts', 'index.mjs', 'package.json'],
    'chat-codec': ['index.d.mts', 'index.d.ts', 'index.js', 'index.mjs', 'package.json',
      `prebuilds/${platform}/quorvel_chat_codec.node`],
    'macos-services': ['bin/quorvel-host-install.js', 'host.d.mts', 'host.d.ts', 'host.js',
      'host.mjs', 'index.d.mts', 'index.d.ts', 'index.js', 'index.mjs', 'package.json',
      `prebuilds/${platform}/macos_services.node`],
  };
  for (const name of PACKAGES) {
    const listed = execFileSync('tar', ['-tzf', tarballs[name]], { encoding: 'utf8' })
      .split('\n').filter(Boolean).map((entry) => entry.replace(/^package\//, '')).sort();
    assert.deepEqual(listed, expected[name], name);
  }
});

test('require and named import of each package', () => {
  write('load.cjs', `
const codec = require('@quorvel/chat-codec');
const delta = require('@quorvel/chat-delta');
const services = require('@quorvel/macos-services');
const kit = require('@quorvel/macos-services/host');
console.log(JSON.stringify({
  codec: Object.keys(codec), delta: Object.keys(delta).sort(), services: Object.keys(services).sort(),
  kit: Object.keys(kit).sort(), encoder: typeof new codec.NativeMessageEncoder().update,
}));
`);
  write('load.mjs', `
import { NativeMessageEncoder } from '@quorvel/chat-codec';
import { applyDelta, DeltaError } from '@quorvel/chat-delta';
import { start, check, install, replace, cancel, dispose, cleanupCopies, cancelCleanup }
  from '@quorvel/macos-services';
import { installHost, uninstallHost, HostInstallError, knownBrowsers } from '@quorvel/macos-services/host';
const all = { NativeMessageEncoder, applyDelta, DeltaError, start, check, install, replace, cancel,
  dispose, cleanupCopies, cancelCleanup, installHost, uninstallHost, HostInstallError, knownBrowsers };
console.log(JSON.stringify(Object.entries(all).filter(([, f]) => typeof f !== 'function').map(([n]) => n)));
`);
  assert.deepEqual(JSON.parse(node('load.cjs')), {
    codec: ['NativeMessageEncoder'],
    delta: ['DeltaError', 'applyDelta'],
    services: ['cancel', 'cancelCleanup', 'check', 'cleanupCopies', 'dispose', 'install', 'replace',
      'start'],
    kit: ['HostInstallError', 'installHost', 'knownBrowsers', 'uninstallHost'],
    encoder: 'function',
  });
  assert.deepEqual(JSON.parse(node('load.mjs')), []);
  // Both entries of the receiving side in one process: each one's DeltaError is the other's.
  write('both.mjs', `
import { createRequire } from 'node:module';
import * as imported from '@quorvel/chat-delta';
const required = createRequire(import.meta.url)('@quorvel/chat-delta');
const misfit = { baseSeq: 0, edits: [{ path: ['missing', 'x'], op: 'set', value: 1 }] };
const caught = (applyDelta) => { try { applyDelta({}, misfit); } catch (error) { return error; } };
const a = caught(imported.applyDelta); const b = caught(required.applyDelta);
console.log(JSON.stringify([imported.DeltaError !== required.DeltaError, a instanceof required.DeltaError,
  b instanceof imported.DeltaError, a instanceof Error, new Error('x') instanceof imported.DeltaError]));
`);
  assert.deepEqual(JSON.parse(node('both.mjs')), [true, true, true, true, false]);
  // The install kit's command, linked by npm into the application's node_modules/.bin.
  const help = run(path.join(app, 'node_modules', '.bin', 'quorvel-host-install'), ['--help'], { cwd: app });
  assert.equal(help.status, 0, help.output);
  assert.match(help.stdout, /^usage:\n {2}quorvel-host-install install --name NAME /);
});

test('encode, JSON through a pipe, applyDelta: the receiver ends with the sender\'s message', () => {
  // The sender falls back to the complete message when update answers null or throws (a
  // message deeper than the nesting budget; the update after it is complete too, as the encoder
  // then holds nothing); the receiver is the plain JavaScript package.
  write('sender.cjs', `
const { NativeMessageEncoder } = require('@quorvel/chat-codec');
const encoder = new NativeMessageEncoder();
const message = { role: 'assistant', content: [{ type: 'text', text: '' }], meta: {} };
let deep = {};
for (let i = 0; i < 40; i++) deep = { deep };
const steps = [];
for (const word of 'the answer arrives a few words at a time'.split(' ')) {
  steps.push((m) => { m.content[0].text += word + ' '; });
}
steps.push((m) => { m.meta.deep = deep; });
steps.push((m) => { delete m.meta.deep; m.meta.done = true; });
steps.push((m) => { m.content.push({ type: 'text', text: 'é\\u{1F600}' }); });
const send = (packet) => process.stdout.write(JSON.stringify(packet) + '\\n');
for (let seq = 0; seq <= steps.length; seq++) {
  if (seq > 0) steps[seq - 1](message);
  let delta;
  try {
    delta = encoder.update(seq, message, false);
  } catch (error) {
    if (error.code !== 'GenericFailure') throw error;
    send({ refused: error.message });
    delta = null;
  }
  send(delta === null ? { seq, message } : { seq, delta });
}
send({ final: message });
`);
  write('receiver.mjs', `
import { applyDelta } from '@quorvel/chat-delta';
import readline from 'node:readline';
let held; let heldSeq = null; const seen = { deltas: 0, complete: 0, refused: [] };
for await (const line of readline.createInterface({ input: process.stdin })) {
  const packet = JSON.parse(line);
  if (packet.refused) seen.refused.push(packet.refused);
  else if (packet.final) console.log(JSON.stringify({ ...seen, equal: JSON.stringify(held) === JSON.stringify(packet.final) }));
  else if (packet.delta) {
    if (packet.delta.baseSeq !== heldSeq) throw new Error('delta against another version');
    held = applyDelta(held, packet.delta); heldSeq = packet.seq; seen.deltas++;
  } else { held = packet.message; heldSeq = packet.seq; seen.complete++; }
}
`);
  const piped = run('sh', ['-c', `"${process.execPath}" sender.cjs | "${process.execPath}" receiver.mjs`],
    { cwd: app });
  assert.equal(piped.status, 0, piped.output);
  assert.deepEqual(JSON.parse(piped.stdout), {
    deltas: 10, complete: 3, refused: ['Message nesting exceeds native budget'], equal: true,
  });
});

test('an updater event and a cleanup result', () => {
  write('services.mjs', `
import { start, check, dispose, cleanupCopies } from '@quorvel/macos-services';
const events = [];
await new Promise((resolve) => {
  // Nothing listens on the discard port: the check fails.
  start('http://127.0.0.1:9/appcast.xml', (text) => {
    events.push(JSON.parse(text));
    if (events.at(-1).type === 'error') resolve();
  }, false);
  check();
});
dispose();
console.log(JSON.stringify({ events, cleanup: JSON.parse(await cleanupCopies()) }));
`);
  const { events, cleanup } = JSON.parse(node('services.mjs', { timeout: 60_000 }));
  assert.deepEqual(events[0], { type: 'checking' });
  const last = events.at(-1);
  // The framework reports a feed it cannot fetch as a failed download.
  assert.deepEqual(last, { type: 'error', error: 'download', code: 2001 });
  // node is not an installed application copy: nothing is examined.
  assert.deepEqual(cleanup, { status: 'not-installed', removed: [] });
});

test('TypeScript --strict, nodenext and bundler resolution, with and without skipLibCheck', () => {
  const consumer = `
import { NativeMessageEncoder, type CodecError, type Delta, type Edit } from '@quorvel/chat-codec';
import { applyDelta, DeltaError, type Delta as ReceivedDelta } from '@quorvel/chat-delta';
import { start, cleanupCopies, type UpdaterEvent, type CleanupResult } from '@quorvel/macos-services';
import { installHost, HostInstallError, type InstallOptions } from '@quorvel/macos-services/host';

const encoder = new NativeMessageEncoder();
let held: unknown = { text: '' };
try {
  const delta: Delta | null = encoder.update(1, { text: 'hi' }, false);
  const same: ReceivedDelta | null = delta;
  if (same !== null) held = applyDelta(held, same);
} catch (error) {
  if (error instanceof DeltaError) console.log(error.editIndex);
  else console.log((error as CodecError).code);
}
export const kinds = (edits: Edit[]): string[] => edits.map((edit) => edit.op);
start('', (text) => console.log((JSON.parse(text) as UpdaterEvent).type), false);
const result = JSON.parse(await cleanupCopies()) as CleanupResult;
export const options: InstallOptions = {
  name: 'app.quorvel.bridge', hostPath: '/x', socketPath: '/s', origins: [], browsers: ['chrome'],
};
try {
  installHost(options);
} catch (error) {
  if (!(error instanceof HostInstallError)) throw error;
}
console.log(held, result.status);

// @ts-expect-error forceComplete is not optional
encoder.update(2, {});
// @ts-expect-error a delta's baseSeq is a number
export const badDelta: Delta = { baseSeq: '1', edits: [] };
// @ts-expect-error "start" takes exactly three arguments
start('', () => {});
// @ts-expect-error no such browser
export const badBrowser: InstallOptions['browsers'] = ['firefox'];
// @ts-expect-error the counts come with "complete" only
console.log(result.busy);
// @ts-expect-error the package exports no default
import codecDefault from '@quorvel/chat-delta';
`;
  write('consumer.mts', consumer);
  // The require side of nodenext: import = require() of each package, in a CommonJS file.
  write('consumer.cts', `
import codec = require('@quorvel/chat-codec');
import received = require('@quorvel/chat-delta');
import services = require('@quorvel/macos-services');
const delta = new codec.NativeMessageEncoder().update(1, [], false);
if (delta !== null) console.log(received.applyDelta([], delta));
services.cancelCleanup();
// @ts-expect-error edits hold set, remove and append only
export const move: received.Edit = { path: [], op: 'move' };
`);
  const flavours = [
    ['--module', 'nodenext'],
    ['--module', 'nodenext', '--skipLibCheck'],
    ['--module', 'preserve', '--moduleResolution', 'bundler'],
    ['--module', 'preserve', '--moduleResolution', 'bundler', '--skipLibCheck'],
  ];
  for (const flavour of flavours) {
    const files = flavour.includes('nodenext') ? ['consumer.mts', 'consumer.cts'] : ['consumer.mts'];
    const compiled = run(process.execPath, [tsc, '--strict', '--noEmit', '--pretty', 'false',
      '--target', 'es2022', ...flavour, ...files], { cwd: app });
    assert.equal(compiled.status, 0, `${flavour.join(' ')}:\n${compiled.output}`);
  }
});

test('publint and the types checker find no problem in any tarball', () => {
  for (const name of PACKAGES) {
    const lint = run(bin('publint'), ['run', '--strict', tarballs[name]], { cwd: work });
    assert.equal(lint.status, 0, `${name}: ${lint.output}`);
    assert.doesNotMatch(lint.output, /Warnings|Errors|Suggestions/, `${name}: ${lint.output}`);
    const types = run(bin('attw'), ['--format', 'ascii', tarballs[name]], { cwd: work });
    assert.equal(types.status, 0, `${name}: ${types.output}`);
    assert.match(types.output, /No problems found/, `${name}: ${types.output}`);
  }
});

test('a package without its binary fails to load with an error naming where it looked', () => {
  const copy = path.join(app, 'no-binary');
  fs.cpSync(path.join(app, 'node_modules', '@quorvel', 'chat-codec'), copy, { recursive: true });
  fs.rmSync(path.join(copy, 'prebuilds'), { recursive: true });
  const loaded = run(process.execPath, ['-e', `require(${JSON.stringify(copy)})`], { cwd: app });
  assert.notEqual(loaded.status, 0);
  assert.match(loaded.output, new RegExp(`No native build was found for platform=${process.platform} `
    + `arch=${process.arch} `));
  assert.ok(loaded.output.includes(`loaded from: ${copy}\n`), loaded.output);
});

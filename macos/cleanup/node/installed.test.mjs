// The whole road from the main bundle to the result: node itself runs as the executable of a
// made-up installed bundle (<temporary HOME>/Applications/Quorvel.app/Contents/MacOS/Quorvel)
// and loads a cleanup module there, which scans the real folders and moves stale copies into
// the real home trash.
//
// This system has no code-signature service, so the shipped module fails closed ("unverified").
// The test module cleanup_test_module is built from the same job sources with the test
// stand-in signature check, which trusts a bundle whose Contents/_CodeSignature/TestSeal.plist
// records the SHA-256 digests of its Info.plist and executable.
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { createHash } from 'node:crypto';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, test } from 'node:test';

const moduleDir = process.env.QV_MODULE_DIR;
const identifier = process.env.QV_TEST_BUNDLE_IDENTIFIER;
const shipped = path.join(moduleDir, 'macos_services.node');
const testModule = path.join(moduleDir, 'cleanup_test_module.node');
// The scan also looks at /Applications; on a machine that has one this test could move real
// copies, so it does not run there.
const skip = fs.existsSync('/Applications') ? '/Applications exists on this machine' : false;

let base;
let home;
let apps;
let running;
let executable;
let childScript;
const processes = [];

const sha256 = (file) => createHash('sha256').update(fs.readFileSync(file)).digest('hex');
const escapeXml = (s) => s.replace(/&/g, '&amp;').replace(/</g, '&lt;');
const plist = (entries) =>
  '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0">\n<dict>\n' +
  Object.entries(entries)
    .map(([k, v]) => `  <key>${escapeXml(k)}</key><string>${escapeXml(v)}</string>\n`)
    .join('') +
  '</dict>\n</plist>\n';

// Writes a bundle; `exe` is a file to place (hard-linked when possible) as its executable.
function makeBundle(folder, name, { version = '2.0.0', team = 'TEAMQ', sealed = true, exe } = {}) {
  const bundle = path.join(folder, name);
  fs.mkdirSync(path.join(bundle, 'Contents/MacOS'), { recursive: true });
  const info = path.join(bundle, 'Contents/Info.plist');
  fs.writeFileSync(
    info,
    plist({
      CFBundleIdentifier: identifier,
      CFBundleExecutable: 'Quorvel',
      CFBundleShortVersionString: version,
    }),
  );
  const target = path.join(bundle, 'Contents/MacOS/Quorvel');
  if (exe) {
    try {
      fs.linkSync(exe, target);
    } catch {
      fs.copyFileSync(exe, target);
    }
  } else {
    fs.writeFileSync(target, `#!/bin/sh\n# ${name}\n`);
  }
  fs.chmodSync(target, 0o755);
  if (sealed) {
    fs.mkdirSync(path.join(bundle, 'Contents/_CodeSignature'));
    const seal = { InfoDigest: sha256(info), ExecutableDigest: sha256(target) };
    if (team !== null) seal.TeamIdentifier = team;
    fs.writeFileSync(path.join(bundle, 'Contents/_CodeSignature/TestSeal.plist'), plist(seal));
  }
  return bundle;
}

// The stale copies beside the installed application, recreated before each run.
function makeCopies() {
  for (const entry of fs.readdirSync(apps)) {
    if (entry !== 'Quorvel.app') fs.rmSync(path.join(apps, entry), { recursive: true });
  }
  makeBundle(apps, 'Quorvel 2.app');                                 // same version: trashed
  makeBundle(apps, 'Quorvel copy.app', { version: '2.0.1' });        // newer
  makeBundle(apps, 'Quorvel 3.app', { sealed: false });              // unsigned
  makeBundle(apps, 'Quorvel 4.app', { team: 'OTHER' });              // another team
  makeBundle(apps, 'quorvel 5.app', { version: '1.0.0' });           // not a copy name
  const sleep = fs.existsSync('/usr/bin/sleep') ? '/usr/bin/sleep' : '/bin/sleep';
  const busy = makeBundle(apps, 'Quorvel 6.app', { version: '1.9.9', exe: sleep });
  return { busyExecutable: path.join(busy, 'Contents/MacOS/Quorvel') };
}

// Runs the child script with the bundle's executable (node) under the temporary HOME.
function runInBundle(modulePath, mode) {
  const env = { ...process.env, HOME: home, QV_TEST_LOAD: modulePath, QV_TEST_MODE: mode };
  delete env.XDG_DATA_HOME;
  const child = spawnSync(executable, [childScript], { env, encoding: 'utf8', timeout: 120000 });
  assert.equal(child.status, 0, `child failed: ${child.stderr}`);
  return JSON.parse(child.stdout);
}

function startBusy(file) {
  const child = spawn(file, ['60'], { stdio: 'ignore' });
  processes.push(child);
  // Wait until the kernel shows the new executable for the process.
  for (let i = 0; i < 200; i += 1) {
    try {
      if (fs.readlinkSync(`/proc/${child.pid}/exe`) === file) return;
    } catch {}
    spawnSync('sleep', ['0.01']);
  }
}

function stopAll() {
  while (processes.length) processes.pop().kill('SIGKILL');
}

const trash = () => path.join(home, '.local/share/Trash');
const trashRecord = (name) =>
  fs.readFileSync(path.join(trash(), 'info', `${name}.trashinfo`), 'utf8');

before(() => {
  if (skip) return;
  base = fs.realpathSync(fs.mkdtempSync(path.join(os.tmpdir(), 'qv-installed-')));
  home = path.join(base, 'home');
  apps = path.join(home, 'Applications');
  running = makeBundle(apps, 'Quorvel.app', { exe: process.execPath });
  executable = path.join(running, 'Contents/MacOS/Quorvel');
  childScript = path.join(base, 'child.cjs');
  fs.writeFileSync(
    childScript,
    `
const m = require(process.env.QV_TEST_LOAD);
const out = {};
(async () => {
  switch (process.env.QV_TEST_MODE) {
    case 'once':
      out.text = await m.cleanupCopies('arguments', 'are', 'ignored');
      break;
    case 'twice': {
      const first = m.cleanupCopies();
      try { m.cleanupCopies(); } catch (e) { out.error = { message: e.message, code: e.code }; }
      out.text = await first;
      out.again = await m.cleanupCopies();
      break;
    }
    case 'cancel-before':
      m.cancelCleanup();
      out.text = await m.cleanupCopies();
      break;
    case 'cancel-after': {
      const job = m.cleanupCopies();
      out.cancel = m.cancelCleanup();
      out.text = await job;
      break;
    }
  }
  process.stdout.write(JSON.stringify(out));
})();
`,
  );
});

after(() => {
  stopAll();
  if (base) fs.rmSync(base, { recursive: true, force: true });
});

test('the shipped module fails closed without a signature service', { skip }, () => {
  makeCopies();
  const out = runInBundle(shipped, 'once');
  assert.deepEqual(JSON.parse(out.text), { status: 'unverified', removed: [] });
  assert.ok(fs.existsSync(path.join(apps, 'Quorvel 2.app')));
  assert.ok(!fs.existsSync(trash()));
});

test('a verified installed copy trashes its stale duplicate and counts the rest', { skip }, () => {
  const { busyExecutable } = makeCopies();
  startBusy(busyExecutable);
  try {
    const out = runInBundle(testModule, 'once');
    assert.doesNotMatch(out.text, /\s(?=(?:[^"]*"[^"]*")*[^"]*$)/, 'compact text');
    const result = JSON.parse(out.text);
    const trashed = path.join(trash(), 'files', 'Quorvel 2.app');
    assert.deepEqual(result, {
      status: 'complete',
      removed: [{ name: 'Quorvel 2.app', path: trashed }],
      busy: 1,
      newer: 1,
      unverified: 2,
      inaccessible: 0,
    });
    // Really in the trash, with a record of where it came from.
    assert.ok(!fs.existsSync(path.join(apps, 'Quorvel 2.app')));
    assert.ok(fs.statSync(path.join(trashed, 'Contents/Info.plist')).isFile());
    const record = trashRecord('Quorvel 2.app').split('\n');
    assert.equal(record[0], '[Trash Info]');
    assert.equal(decodeURIComponent(record[1].replace(/^Path=/, '')), path.join(apps, 'Quorvel 2.app'));
    assert.match(record[2], /^DeletionDate=\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d$/);
    // Everything else stayed.
    for (const kept of ['Quorvel.app', 'Quorvel copy.app', 'Quorvel 3.app', 'Quorvel 4.app',
      'quorvel 5.app', 'Quorvel 6.app']) {
      assert.ok(fs.existsSync(path.join(apps, kept, 'Contents/Info.plist')), kept);
    }
    assert.equal(sha256(executable), sha256(process.execPath));
  } finally {
    stopAll();
  }
});

test('a second call while running throws; the next one after completion is accepted', { skip }, () => {
  makeCopies();
  const out = runInBundle(testModule, 'twice');
  assert.deepEqual(out.error, { message: 'Cleanup is already running' });
  const first = JSON.parse(out.text);
  assert.equal(first.status, 'complete');
  // Names collide with the earlier run's trashed copy, so the trash gives a unique name.
  // Removal follows the listing order, which is the file system's.
  assert.deepEqual(first.removed.map((r) => r.name).sort(), ['Quorvel 2.app', 'Quorvel 6.app']);
  for (const r of first.removed) {
    assert.equal(path.dirname(r.path), path.join(trash(), 'files'));
    assert.ok(fs.existsSync(r.path));
  }
  assert.equal(new Set(fs.readdirSync(path.join(trash(), 'files'))).size,
    fs.readdirSync(path.join(trash(), 'info')).length);
  const again = JSON.parse(out.again);
  assert.deepEqual(again, { status: 'complete', removed: [], busy: 0, newer: 1, unverified: 2, inaccessible: 0 });
});

test('a cancel before the start has no effect on the job', { skip }, () => {
  makeCopies();
  const result = JSON.parse(runInBundle(testModule, 'cancel-before').text);
  assert.equal(result.status, 'complete');
  assert.deepEqual(result.removed.map((r) => r.name).sort(), ['Quorvel 2.app', 'Quorvel 6.app']);
});

test('a cancel right after the start still resolves "complete"', { skip }, () => {
  makeCopies();
  const out = runInBundle(testModule, 'cancel-after');
  assert.equal(out.cancel, undefined);
  const result = JSON.parse(out.text);
  assert.equal(result.status, 'complete');
  assert.deepEqual(Object.keys(result).sort(),
    ['busy', 'inaccessible', 'newer', 'removed', 'status', 'unverified']);
  // Whatever was done before the flag was seen is reported, and nothing else happened.
  for (const name of ['Quorvel 2.app', 'Quorvel 6.app']) {
    const moved = result.removed.some((r) => r.name === name);
    assert.equal(fs.existsSync(path.join(apps, name)), !moved, name);
  }
  assert.ok(result.newer + result.unverified + result.busy + result.removed.length <= 5);
});

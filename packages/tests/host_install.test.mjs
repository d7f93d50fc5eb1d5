// The host install kit: what installHost writes where, that the launcher it writes starts the
// host with the socket variable set, that uninstallHost removes exactly that, and that input a
// browser would reject or a folder that cannot be written leaves nothing behind.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { afterEach, beforeEach, test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { HostInstallError, installHost, uninstallHost } from '@quorvel/macos-services/host';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const command = path.join(root, 'packages', 'macos-services', 'bin', 'quorvel-host-install.js');
const NAME = 'app.quorvel.bridge';
const ORIGIN = 'chrome-extension://abcdefghijklmnopabcdefghijklmnop/';

let dir;
let home;
let host;
const saved = {};

// Every file and folder under `at`, with the content of each file.
function tree(at) {
  const found = {};
  const walk = (folder) => {
    for (const entry of fs.readdirSync(folder, { withFileTypes: true })) {
      const full = path.join(folder, entry.name);
      const key = path.relative(at, full);
      if (entry.isDirectory()) {
        found[`${key}/`] = '';
        walk(full);
      } else {
        found[key] = fs.readFileSync(full, 'utf8');
      }
    }
  };
  walk(at);
  return found;
}

beforeEach(() => {
  dir = fs.mkdtempSync(path.join(os.tmpdir(), 'qv-kit-'));
  home = path.join(dir, 'home');
  fs.mkdirSync(home);
  for (const key of ['HOME', 'XDG_CONFIG_HOME']) saved[key] = process.env[key];
  process.env.HOME = home;
  delete process.env.XDG_CONFIG_HOME;
  // A stand-in host whose folder name and own name need quoting: prints what it was given.
  const bin = path.join(dir, "the host's folder");
  fs.mkdirSync(bin);
  host = path.join(bin, 'quorvel host');
  fs.writeFileSync(host, '#!/bin/sh\nprintf "%s|" "$QV_BROWSER_BRIDGE_SOCKET" "$@"\n', { mode: 0o755 });
});

afterEach(() => {
  for (const [key, value] of Object.entries(saved)) {
    if (value === undefined) delete process.env[key];
    else process.env[key] = value;
  }
  fs.rmSync(dir, { recursive: true, force: true });
});

const options = (extra = {}) => ({
  name: NAME, hostPath: host, socketPath: "/tmp/qv it's.sock", origins: [ORIGIN],
  browsers: ['chrome', 'chromium', 'edge', 'brave'], ...extra,
});

test('install writes a manifest and a launcher per browser; uninstall removes exactly those', () => {
  const foreign = path.join(home, '.config', 'chromium', 'NativeMessagingHosts', 'other.host.json');
  fs.mkdirSync(path.dirname(foreign), { recursive: true });
  fs.writeFileSync(foreign, '{"name":"other.host"}');
  const before = tree(home);

  const first = installHost(options({ description: 'Quorvel bridge' }));
  const folders = ['google-chrome', 'chromium', 'microsoft-edge', 'BraveSoftware/Brave-Browser']
    .map((folder) => path.join(home, '.config', folder, 'NativeMessagingHosts'));
  assert.deepEqual(first.written, folders.flatMap((folder) => [
    path.join(folder, `${NAME}.launcher`), path.join(folder, `${NAME}.json`)]));
  const installed = tree(home);
  for (const folder of folders) {
    const launcher = path.join(folder, `${NAME}.launcher`);
    assert.deepEqual(JSON.parse(fs.readFileSync(path.join(folder, `${NAME}.json`), 'utf8')), {
      name: NAME, description: 'Quorvel bridge', path: launcher, type: 'stdio', allowed_origins: [ORIGIN],
    });
    // The browser's environment has no socket variable; the launcher supplies it.
    const env = { ...process.env };
    delete env.QV_BROWSER_BRIDGE_SOCKET;
    const started = spawnSync(launcher, [ORIGIN, '--parent-window=0'], { env, encoding: 'utf8' });
    assert.equal(started.stdout, `/tmp/qv it's.sock|${ORIGIN}|--parent-window=0|`);
  }
  // Nothing but the two files per folder (and the folders they needed) was added.
  const added = Object.keys(installed).filter((key) => !(key in before));
  assert.equal(added.filter((key) => !key.endsWith('/')).length, 8);
  assert.ok(added.every((key) => key.endsWith('/') || key.startsWith('.config/')
    && (key.endsWith(`/${NAME}.json`) || key.endsWith(`/${NAME}.launcher`))), added.join('\n'));

  // Idempotent: the same files again.
  installHost(options({ description: 'Quorvel bridge' }));
  assert.deepEqual(tree(home), installed);

  const { removed, kept } = uninstallHost({ name: NAME });
  assert.deepEqual(removed.sort(), first.written.slice().sort());
  assert.deepEqual(kept, []);
  const left = tree(home);
  assert.equal(left[path.relative(home, foreign)], '{"name":"other.host"}');
  assert.deepEqual(Object.keys(left).filter((key) => !key.endsWith('/')),
    [path.relative(home, foreign)]);
  assert.deepEqual(uninstallHost({ name: NAME }), { removed: [], kept: [] });
});

test('uninstall leaves a manifest of the same name that the kit did not write', () => {
  const folder = path.join(home, '.config', 'chromium', 'NativeMessagingHosts');
  fs.mkdirSync(folder, { recursive: true });
  const manifest = path.join(folder, `${NAME}.json`);
  fs.writeFileSync(manifest, JSON.stringify({ name: NAME, path: '/opt/other/host' }));
  assert.deepEqual(uninstallHost({ name: NAME, browsers: ['chromium'] }), { removed: [], kept: [manifest] });
  assert.ok(fs.existsSync(manifest));
});

test('the macOS folders, a profile folder and XDG_CONFIG_HOME', () => {
  const support = path.join(home, 'Library', 'Application Support');
  const mac = installHost(options({
    platform: 'darwin', browsers: ['chrome', 'chrome-beta', 'chromium', 'edge', 'brave', 'vivaldi'],
  }));
  assert.deepEqual(mac.written.filter((file) => file.endsWith('.json')), [
    'Google/Chrome', 'Google/Chrome Beta', 'Chromium', 'Microsoft Edge',
    'BraveSoftware/Brave-Browser', 'Vivaldi',
  ].map((folder) => path.join(support, folder, 'NativeMessagingHosts', `${NAME}.json`)));
  assert.equal(uninstallHost({ name: NAME, platform: 'darwin' }).removed.length, 12);

  const profile = path.join(dir, 'profile');
  const inProfile = installHost(options({ browsers: ['chromium'], userDataDir: profile }));
  assert.deepEqual(inProfile.written, [
    path.join(profile, 'NativeMessagingHosts', `${NAME}.launcher`),
    path.join(profile, 'NativeMessagingHosts', `${NAME}.json`)]);

  process.env.XDG_CONFIG_HOME = path.join(dir, 'xdg');
  const xdg = installHost(options({ browsers: ['brave'] }));
  assert.equal(xdg.written[1], path.join(dir, 'xdg', 'BraveSoftware', 'Brave-Browser',
    'NativeMessagingHosts', `${NAME}.json`));
});

test('input a browser would reject, and folders that cannot be written, change nothing', () => {
  // A manifest installed earlier: a failed install must give it back unchanged.
  installHost(options({ browsers: ['chrome'] }));
  fs.writeFileSync(path.join(home, '.config', 'BraveSoftware'), 'a file where a folder would go');
  fs.mkdirSync(path.join(home, '.config', 'microsoft-edge', 'NativeMessagingHosts', `${NAME}.json`),
    { recursive: true });
  const before = tree(home);
  const cases = [
    [{ browsers: ['chrome', 'firefox'] }, /Unknown browser "firefox"; known on linux: chrome, /],
    [{ browsers: ['chrome-beta'] }, /Unknown browser "chrome-beta"; known on linux/],
    [{ browsers: [] }, /browsers must name one or more of/],
    [{ hostPath: 'build/quorvel-host' }, /hostPath must be an absolute path, not "build\/quorvel-host"/],
    [{ hostPath: path.join(dir, 'missing') }, /is not an executable file/],
    [{ socketPath: 'bridge.sock' }, /socketPath must be an absolute path/],
    [{ socketPath: `/tmp/${'s'.repeat(120)}` }, /longer than a socket path may be \(107 bytes\)/],
    ...['App.Quorvel', 'app-quorvel', '.app', 'app.', 'app..bridge', 'app bridge', '', 'ä']
      .map((name) => [{ name }, /Invalid host name .*lower-case letters, digits, "_" and dots/]),
    [{ origins: [] }, /origins must list the extensions/],
    ...['chrome-extension://abcdefghijklmnopabcdefghijklmnop', 'chrome-extension://abc/',
      'chrome-extension://qbcdefghijklmnopabcdefghijklmnop/', 'https://example.org/',
      'chrome-extension://ABCDEFGHIJKLMNOPABCDEFGHIJKLMNOP/']
      .map((origin) => [{ origins: [ORIGIN, origin] }, /Invalid origin .*32-letter extension id/]),
    [{ browsers: ['chromium'], userDataDir: 'profile' }, /userDataDir must be an absolute path/],
    [{ browsers: ['chromium', 'brave'], userDataDir: path.join(dir, 'p') },
      /userDataDir goes with exactly one browser/],
    // The first folders are written, then one cannot be: everything is undone.
    [{ browsers: ['chrome', 'chromium', 'brave'] }, /Could not install the host into .*ENOTDIR/],
    [{ browsers: ['chrome', 'chromium', 'edge'] }, /Could not install the host into .*(EISDIR|directory)/],
  ];
  for (const [extra, message] of cases) {
    assert.throws(() => installHost(options(extra)), (error) => error instanceof HostInstallError
      && message.test(error.message), JSON.stringify(extra));
    assert.deepEqual(tree(home), before, JSON.stringify(extra));
  }
  assert.throws(() => uninstallHost({ name: 'a..b' }), /Invalid host name/);
  assert.throws(() => uninstallHost({ name: NAME, browsers: ['safari'] }), /Unknown browser "safari"/);
  assert.deepEqual(tree(home), before);
});

test('the command: install, uninstall, and a clear error with status 1', () => {
  const profile = path.join(dir, 'profile');
  const run = (...args) => spawnSync(process.execPath, [command, ...args], { encoding: 'utf8' });
  const installed = run('install', '--name', NAME, '--host', host, '--socket', '/tmp/s',
    '--origin', ORIGIN, '--browser', 'chromium', '--user-data-dir', profile);
  assert.equal(installed.status, 0, installed.stderr);
  const folder = path.join(profile, 'NativeMessagingHosts');
  assert.equal(installed.stdout, `wrote ${path.join(folder, `${NAME}.launcher`)}\n`
    + `wrote ${path.join(folder, `${NAME}.json`)}\n`);
  const refused = run('install', '--name', 'Bad.Name', '--host', host, '--socket', '/tmp/s',
    '--origin', ORIGIN, '--browser', 'chromium');
  assert.equal(refused.status, 1);
  assert.match(refused.stderr, /^quorvel-host-install: Invalid host name "Bad.Name"/);
  assert.equal(run('frobnicate').status, 2);
  const removed = run('uninstall', '--name', NAME, '--browser', 'chromium', '--user-data-dir', profile);
  assert.equal(removed.status, 0, removed.stderr);
  assert.equal(removed.stdout, `removed ${path.join(folder, `${NAME}.json`)}\n`
    + `removed ${path.join(folder, `${NAME}.launcher`)}\n`);
  assert.deepEqual(fs.readdirSync(folder), []);
});

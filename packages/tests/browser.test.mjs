// A real headless Chromium finds quorvel-host only through what the install kit wrote into its
// profile folder: no host path on its command line and no socket variable in its environment.
// The extension of host/testdata relays through the host to an application listener and back;
// after uninstall, the same profile no longer finds the host.
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import crypto from 'node:crypto';
import { once } from 'node:events';
import fs from 'node:fs';
import net from 'node:net';
import path from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';

import { installHost, uninstallHost } from '@quorvel/macos-services/host';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const EXTENSION = path.join(root, 'host', 'testdata', 'extension');
const CHROMIUM = process.env.QV_CHROMIUM ?? '/usr/lib/chromium/chromium';
const HOST = path.join(process.env.QV_BUILD_DIR ?? path.join(root, 'build', 'default'), 'host',
  'quorvel-host');
const NAME = 'app.quorvel.bridge';
const WAIT = 60_000;  // a cold browser start on a loaded machine can take a while

function extensionId() {
  const { key } = JSON.parse(fs.readFileSync(path.join(EXTENSION, 'manifest.json'), 'utf8'));
  const digest = crypto.createHash('sha256').update(Buffer.from(key, 'base64')).digest('hex');
  return [...digest.slice(0, 32)].map((digit) => String.fromCharCode(97 + parseInt(digit, 16))).join('');
}

function withTimeout(promise, what) {
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`timed out waiting for ${what}`)), WAIT);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

// The application's side: a listener on the bridge socket, handing out lines as they arrive.
class Application {
  constructor(socketPath) {
    this.connections = [];
    this.waiting = [];
    this.server = net.createServer((socket) => {
      const connection = { socket, buffer: '', lines: [], readers: [] };
      socket.setEncoding('utf8');
      socket.on('data', (chunk) => {
        connection.buffer += chunk;
        let end;
        while ((end = connection.buffer.indexOf('\n')) >= 0) {
          connection.lines.push(connection.buffer.slice(0, end));
          connection.buffer = connection.buffer.slice(end + 1);
        }
        while (connection.readers.length && connection.lines.length) {
          connection.readers.shift()(JSON.parse(connection.lines.shift()));
        }
      });
      socket.on('error', () => {});
      this.connections.push(connection);
      for (const resolve of this.waiting.splice(0)) resolve(connection);
    });
    this.server.listen(socketPath);
  }

  accept() {
    if (this.connections.length) return Promise.resolve(this.connections[0]);
    return withTimeout(new Promise((resolve) => this.waiting.push(resolve)), 'the host to connect');
  }

  static message(connection) {
    if (connection.lines.length) return Promise.resolve(JSON.parse(connection.lines.shift()));
    return withTimeout(new Promise((resolve) => connection.readers.push(resolve)), 'a message');
  }

  close() {
    for (const { socket } of this.connections) socket.destroy();
    this.server.close();
  }
}

function startBrowser(profile, log) {
  const env = { ...process.env };
  delete env.QV_BROWSER_BRIDGE_SOCKET;  // the launcher must supply it
  const browser = spawn(CHROMIUM, ['--headless=new', '--no-sandbox', '--disable-gpu',
    '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--enable-logging=stderr', '--v=0',
    `--user-data-dir=${profile}`, `--load-extension=${EXTENSION}`, 'about:blank'],
  { env, stdio: ['ignore', 'pipe', 'pipe'], detached: true });
  browser.output = '';
  for (const stream of [browser.stdout, browser.stderr]) {
    stream.setEncoding('utf8');
    stream.on('data', (chunk) => {
      browser.output += chunk;
      fs.appendFileSync(log, chunk);
    });
  }
  return browser;
}

// Ends the browser, then whatever it left in its process group (helpers, the host it started).
async function stopBrowser(browser) {
  if (browser.exitCode === null && browser.signalCode === null) {
    const exited = once(browser, 'exit');
    browser.kill('SIGTERM');
    const timer = setTimeout(() => browser.kill('SIGKILL'), 15_000);
    await exited;
    clearTimeout(timer);
  }
  const deadline = Date.now() + 10_000;
  for (;;) {
    try {
      process.kill(-browser.pid, 0);
    } catch {
      return;
    }
    if (Date.now() > deadline) {
      process.kill(-browser.pid, 'SIGKILL');
      return;
    }
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

function waitFor(browser, pattern) {
  return withTimeout(new Promise((resolve) => {
    const check = () => {
      if (pattern.test(browser.output)) resolve();
      else setTimeout(check, 50);
    };
    check();
  }), `${pattern} in the browser's log`);
}

const usable = fs.existsSync(CHROMIUM) && fs.existsSync(HOST);
test('the browser finds the host through the installed manifest, and not after uninstall',
  { skip: usable ? false : 'chromium or the host is not there', timeout: 4 * WAIT }, async (t) => {
    const dir = fs.mkdtempSync('/tmp/qvk');
    const profile = path.join(dir, 'profile');
    const log = path.join(dir, 'browser.log');
    const app = new Application(path.join(dir, 's'));
    const browsers = [];
    let passed = false;
    t.after(async () => {
      for (const browser of browsers) await stopBrowser(browser);
      app.close();
      if (!passed) process.stderr.write(fs.readFileSync(log, 'utf8').slice(-4000));
      fs.rmSync(dir, { recursive: true, force: true });
    });
    fs.writeFileSync(log, '');

    const { written } = installHost({
      name: NAME, hostPath: HOST, socketPath: path.join(dir, 's'),
      origins: [`chrome-extension://${extensionId()}/`], browsers: ['chromium'], userDataDir: profile,
    });
    assert.equal(written.length, 2);

    browsers.push(startBrowser(profile, log));
    const connection = await app.accept();
    assert.deepEqual(await Application.message(connection),
      { event: 'hello', from: 'test-extension', detached: 0 });
    const params = { text: 'h\u00e9llo \u{1F600}', n: [1, 2.5, null] };
    connection.socket.write(`${JSON.stringify({ id: 2, method: 'echo', params })}\n`);
    let answer = await Application.message(connection);
    if (answer.id === 1) answer = await Application.message(connection);  // the early message
    assert.deepEqual(answer, { id: 2, result: params });
    await stopBrowser(browsers[0]);

    const { removed, kept } = uninstallHost({ name: NAME, browsers: ['chromium'], userDataDir: profile });
    assert.deepEqual(removed.sort(), written.slice().sort());
    assert.deepEqual(kept, []);

    const connected = app.connections.length;
    browsers.push(startBrowser(profile, log));
    await waitFor(browsers[1], /quorvel-test disconnected: Specified native messaging host not found\./);
    assert.equal(app.connections.length, connected, 'no host connected after uninstall');
    passed = true;
  });

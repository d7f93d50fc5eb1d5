// End to end: the real macos_services module, its stand-in update framework, and feeds served by
// a loopback HTTP server of this test. Each scenario runs in its own child process, since the
// updater starts once per process.
import { test, after } from 'node:test';
import assert from 'node:assert/strict';
import http from 'node:http';
import { spawn } from 'node:child_process';
import { once } from 'node:events';
import { mkdtempSync, writeFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const SPARKLE = 'http://www.andymatuschak.org/xml-namespaces/sparkle';

// --- the loopback server ---------------------------------------------------------------------

const archive = Buffer.alloc(1000, 0x5a);
const stalled = new Set();
let feedText = '';
const server = http.createServer(async (req, res) => {
  if (req.url === '/stalled-feed.xml') {
    res.writeHead(200, { 'content-type': 'application/rss+xml' });
    res.write('<?xml version="1.0"?>');
    stalled.add(res);
  } else if (req.url.startsWith('/releases/moved-')) {
    // A redirect whose body could pass for an archive.
    res.writeHead(302, { location: '/releases/Quorvel-2.0.zip', 'content-length': archive.length });
    res.end(archive);
  } else if (req.url === '/feed.xml') {
    res.writeHead(200, { 'content-type': 'application/rss+xml' });
    res.end(feedText);
  } else if (req.url.startsWith('/releases/') && req.url.endsWith('.zip')) {
    // Three chunks with pauses, so that each arrives on its own.
    res.writeHead(200, { 'content-length': archive.length });
    const stall = req.url.includes('stall');
    for (const [from, to] of [[0, 400], [400, 800], [800, 1000]]) {
      res.write(archive.subarray(from, to));
      if (stall) {
        stalled.add(res);
        return;  // held open until the client goes away or the server closes
      }
      await sleep(60);
    }
    res.end();
  } else {
    res.writeHead(404);
    res.end();
  }
});
server.listen(0, '127.0.0.1');
await once(server, 'listening');
const origin = `http://127.0.0.1:${server.address().port}`;
const feedURL = `${origin}/feed.xml`;
// Children a failed scenario left running; they would otherwise hold the run until its timeout.
const running = new Set();
after(() => {
  for (const child of running) child.kill('SIGKILL');
  for (const res of stalled) res.destroy();
  server.close();
});

function item({ version, archiveName = `Quorvel-${version}.zip`, minimum, description = '', extra = '',
  deltaURL }) {
  const deltas = deltaURL
    ? `<sparkle:deltas><enclosure url="${deltaURL}" sparkle:version="${version}" sparkle:deltaFrom="1.0" length="10"/></sparkle:deltas>`
    : '';
  return `<item><title>${version}</title><description><![CDATA[${description}]]></description>
    <sparkle:version>${version}</sparkle:version>
    ${minimum ? `<sparkle:minimumSystemVersion>${minimum}</sparkle:minimumSystemVersion>` : ''}
    ${extra}
    <enclosure url="${origin}/releases/${archiveName}" length="${archive.length}" type="application/octet-stream"/>
    ${deltas}</item>`;
}
const feed = (...items) => `<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="${SPARKLE}" xmlns:quorvel="https://quorvel.example/xml">
<channel><title>Quorvel</title>${items.join('')}</channel></rss>`;

// --- the child process -----------------------------------------------------------------------

class Agent {
  constructor(env = {}) {
    this.child = spawn(process.execPath, [path.join(here, 'updater_agent.mjs')], {
      env: { ...process.env, ...env },
      stdio: ['pipe', 'pipe', 'pipe'],
    });
    running.add(this.child);
    this.child.once('exit', () => running.delete(this.child));
    this.messages = [];
    this.waiters = [];
    this.stderr = '';
    let buffered = '';
    this.child.stdout.setEncoding('utf8');
    this.child.stdout.on('data', (chunk) => {
      buffered += chunk;
      let nl;
      while ((nl = buffered.indexOf('\n')) >= 0) {
        const message = JSON.parse(buffered.slice(0, nl));
        buffered = buffered.slice(nl + 1);
        this.messages.push(message);
        for (const w of [...this.waiters]) w();
      }
    });
    this.child.stderr.setEncoding('utf8');
    this.child.stderr.on('data', (chunk) => { this.stderr += chunk; });
  }

  // Events so far: each callback must have received exactly one string holding a JSON object
  // with a "type".
  get events() {
    return this.messages.filter((m) => m.event).map((m) => {
      assert.equal(m.event.length, 1, 'one argument per event');
      assert.equal(typeof m.event[0], 'string');
      const event = JSON.parse(m.event[0]);
      assert.equal(typeof event, 'object');
      assert.equal(typeof event.type, 'string');
      return event;
    });
  }

  // Waits until predicate(messages) holds.
  async until(predicate, what, timeoutMs = 15000) {
    const deadline = Date.now() + timeoutMs;
    while (!predicate(this)) {
      const left = deadline - Date.now();
      if (left <= 0) {
        assert.fail(`timed out waiting for ${what}; events: ${JSON.stringify(this.events)}`);
      }
      await new Promise((resolve) => {
        const timer = setTimeout(done, left);
        function done() {
          clearTimeout(timer);
          resolve();
        }
        this.waiters.push(done);
      });
      this.waiters = [];
    }
  }

  untilEvent(match, what) {
    return this.until((a) => a.events.some(match), what);
  }

  async call(call, ...args) {
    const before = this.messages.filter((m) => m.call).length;
    this.child.stdin.write(JSON.stringify({ call, args }) + '\n');
    await this.until((a) => a.messages.filter((m) => m.call).length > before, `reply to ${call}`);
    return this.messages.filter((m) => m.call)[before];
  }

  // Closes stdin: with nothing left to do, the child must exit on its own.
  async finish() {
    this.child.stdin.end();
    const timer = setTimeout(() => this.child.kill('SIGKILL'), 10000);
    const [code, signal] = await once(this.child, 'exit');
    clearTimeout(timer);
    assert.equal(signal, null, `the child was kept alive; stderr: ${this.stderr}`);
    assert.equal(code, 0, this.stderr);
  }
}

const types = (events) => events.map((e) => e.type);
const isReady = (e) => e.type === 'ready';
const release = (version, more = {}) => ({
  version, minimumMacOS: '15.0', notes: [''], required: false, ...more,
});

// --- scenarios -------------------------------------------------------------------------------

// Runs a plain script in a node process of its own; killed after 10 s, so a process kept alive
// shows as a signal.
async function runScript(script) {
  const child = spawn(process.execPath, ['-e', script], { stdio: ['ignore', 'pipe', 'pipe'] });
  running.add(child);
  let out = '';
  let err = '';
  child.stdout.setEncoding('utf8').on('data', (chunk) => { out += chunk; });
  child.stderr.setEncoding('utf8').on('data', (chunk) => { err += chunk; });
  const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
  const [code, signal] = await once(child, 'exit');
  clearTimeout(timer);
  running.delete(child);
  return { code, signal, out, err };
}

test('a user-initiated check downloads, reports ready and installs', async () => {
  const announcement = JSON.stringify({ headline: 'Faster sync', links: [1, 2] });
  feedText = feed(item({ version: '2.0', description: 'First\n\nThird',
    extra: `<quorvel:announcement>${announcement}</quorvel:announcement>` }));
  const agent = new Agent({ QV_UPDATE_DEBUG: '1' });
  assert.deepEqual(await agent.call('install'), { call: 'install', threw: 'Update is not ready', code: null });
  assert.deepEqual(await agent.call('start', feedURL, '$onEvent', false), { call: 'start', result: '<undefined>' });
  assert.deepEqual(await agent.call('install'), { call: 'install', threw: 'Update is not ready', code: null });
  assert.deepEqual(await agent.call('replace'), { call: 'replace', result: false });
  await agent.call('check');
  await agent.untilEvent(isReady, 'ready');

  const expectedRelease = release('2.0', { notes: ['First', '', 'Third'],
    announcement: { headline: 'Faster sync', links: [1, 2] } });
  const events = agent.events;
  assert.deepEqual(events.slice(0, 4), [
    { type: 'checking' },
    { type: 'available', release: expectedRelease },
    { type: 'downloading', canCancel: false },
    { type: 'downloading', canCancel: true },
  ]);
  const progress = events.slice(4, -2);
  assert.ok(progress.length >= 1);
  // Each chunk reports the truncated share of the 1000 bytes received so far, below 100.
  const possible = [40, 80, 99];
  for (const e of progress) {
    assert.deepEqual(Object.keys(e).sort(), ['percent', 'type']);
    assert.ok(possible.includes(e.percent), `percent ${e.percent}`);
  }
  assert.deepEqual(progress.map((e) => e.percent), [...progress.map((e) => e.percent)].sort((a, b) => a - b));
  assert.equal(progress.at(-1).percent, 99);
  assert.deepEqual(events.slice(-2), [
    { type: 'downloading', canCancel: false, percent: 99 },
    { type: 'ready', release: expectedRelease },
  ]);

  assert.deepEqual(await agent.call('install'), { call: 'install', result: '<undefined>' });
  await agent.untilEvent((e) => e.type === 'installing', 'installing');
  assert.deepEqual(await agent.call('install'), { call: 'install', threw: 'Update is not ready', code: null });
  assert.deepEqual(await agent.call('start', feedURL, '$onEvent', false),
    { call: 'start', threw: 'Invalid updater initialization', code: null });
  await agent.finish();

  const trace = agent.stderr.trim().split('\n');
  for (const line of trace) {
    assert.match(line, /^\[updater\] [a-z-]+ code=-?\d+ session=[01] pending=[01] ready=[01]$/);
  }
  assert.equal(trace[0], '[updater] request-check code=0 session=0 pending=0 ready=0');
  assert.ok(trace.includes('[updater] ready code=0 session=1 pending=0 ready=1'));
  // Installing does not end the session: the framework terminates the application instead, so
  // no end of cycle is reported.
  assert.ok(!trace.some((line) => line.startsWith('[updater] finished')));
});

test('the events of a check arrive although nothing else keeps the process alive', async () => {
  // A port nobody listens on: the check fails as soon as it starts.
  const closed = http.createServer().listen(0, '127.0.0.1');
  await once(closed, 'listening');
  const unanswered = `http://127.0.0.1:${closed.address().port}/feed.xml`;
  closed.close();
  await once(closed, 'close');
  const cases = [
    ['a feed nobody answers', unanswered, null],
    // The update waits for "install"; the process ends once "ready" is delivered.
    ['a feed with an update', feedURL, feed(item({ version: '2.0' }))],
  ];
  for (const [name, url, text] of cases) {
    if (text) feedText = text;
    // A plain script: no stdin reader, timer or server of its own keeps its loop alive.
    const script = `const services = require(${JSON.stringify(path.join(process.env.QV_MODULE_DIR, 'macos_services.node'))});
      services.start(${JSON.stringify(url)}, (event) => console.log(event), false);
      services.check();`;
    const { code, signal, out, err } = await runScript(script);
    assert.equal(signal, null, `${name}: the process was kept alive`);
    assert.equal(code, 0, `${name}: ${err}`);
    const events = out.trim().split('\n').map((line) => JSON.parse(line));
    if (!text) {
      // The framework reports a feed it cannot fetch with its download error.
      assert.deepEqual(events, [{ type: 'checking' }, { type: 'error', error: 'download', code: 2001 },
        { type: 'error', error: 'download', code: 2001 }], name);
    } else {
      assert.deepEqual(events.slice(0, 2), [{ type: 'checking' }, { type: 'available', release: release('2.0') }], name);
      assert.deepEqual(events.at(-1), { type: 'ready', release: release('2.0') }, name);
    }
  }
});

test('a feed with nothing newer reports up-to-date', async () => {
  feedText = feed(item({ version: '1.0' }), item({ version: '0.9' }));
  const cases = [
    // Reported by the delegate, the driver and the abort alike; the object does not deduplicate.
    ['a user-initiated check', false, ['checking', 'up-to-date', 'up-to-date', 'up-to-date']],
    // A background check shows the user driver nothing.
    ['a background check', true, ['up-to-date', 'up-to-date']],
  ];
  for (const [name, checkNow, expected] of cases) {
    const agent = new Agent();
    await agent.call('start', feedURL, '$onEvent', checkNow);
    if (!checkNow) await agent.call('check');
    await agent.until((a) => a.events.length >= expected.length, name);
    await sleep(200);
    assert.deepEqual(types(agent.events), expected, name);
    await agent.finish();
  }
});

test('a newest release needing a newer system is unsupported', async () => {
  feedText = feed(item({ version: '1.0' }), item({ version: '3.0', minimum: '99.0' }));
  const agent = new Agent();
  await agent.call('start', feedURL, '$onEvent', false);
  await agent.call('check');
  await agent.until((a) => a.events.length >= 2, 'the outcome');
  await sleep(200);
  const events = agent.events;
  assert.equal(events[0].type, 'checking');
  for (const e of events.slice(1)) {
    assert.deepEqual(e, { type: 'unsupported', release: release('3.0', { minimumMacOS: '99.0' }) });
  }
  await agent.finish();
});

test('archives that fail the rule refuse every update of the feed', async (t) => {
  const dir = mkdtempSync(path.join(tmpdir(), 'qv-updater-'));
  t.after(() => rmSync(dir, { recursive: true, force: true }));
  writeFileSync(path.join(dir, 'feed.xml'), feed(item({ version: '2.0' })));
  const cases = [
    ['a delta archive on another host', feedURL,
      feed(item({ version: '2.0' }), item({ version: '1.5', deltaURL: 'http://127.0.0.2:9/releases/x.delta' }))],
    ['a delta archive climbing out of the release folder', feedURL,
      feed(item({ version: '2.0', deltaURL: `${origin}/releases/%2e%2e/x.delta` }))],
    ['a full archive with a query', feedURL, feed(item({ version: '2.0', archiveName: 'a.zip?x=1' }))],
    // A file feed has no host, so no archive can share its origin.
    ['a feed read from a file', `file://${path.join(dir, 'feed.xml')}`, null],
  ];
  for (const [name, url, text] of cases) {
    if (text) feedText = text;
    const agent = new Agent();
    await agent.call('start', url, '$onEvent', false);
    await agent.call('check');
    await agent.until((a) => a.events.length >= 2, name);
    await sleep(200);
    const events = agent.events;
    assert.equal(events[0].type, 'checking', name);
    assert.ok(events.length >= 2, name);
    for (const e of events.slice(1)) {
      assert.deepEqual(e, { type: 'error', error: 'verify', code: 3002 }, name);
    }
    await agent.finish();
  }
});

test('hostile feeds and answers end the check with an error', async () => {
  const entity = `<!DOCTYPE rss [<!ENTITY big "${'x'.repeat(10000)}">]>`;
  const cases = [
    // A 16 KB feed whose entity would multiply into 20 MB of notes.
    ['an entity referenced 2,000 times',
      feed(item({ version: '2.0', extra: `<quorvel:notes>${'&big;'.repeat(2000)}</quorvel:notes>` }))
        .replace('<rss', `${entity}<rss`),
      { type: 'error', error: 'check', code: 1000 }],
    ['a redirect in place of the archive', feed(item({ version: '2.0', archiveName: 'moved-2.0.zip' })),
      { type: 'error', error: 'download', code: 2001 }],
  ];
  for (const [name, text, outcome] of cases) {
    feedText = text;
    const agent = new Agent();
    await agent.call('start', feedURL, '$onEvent', false);
    await agent.call('check');
    await agent.untilEvent((e) => e.type === 'error', name);
    await sleep(200);
    const events = agent.events;
    assert.ok(!events.some((e) => e.type === 'ready'), name);
    assert.deepEqual(events.filter((e) => e.type === 'error'), [outcome, outcome], name);
    await agent.finish();
  }
});

test('cancel stops a running check, and the next check starts afresh', async () => {
  feedText = feed(item({ version: '2.0' }));
  const agent = new Agent();
  await agent.call('start', `${origin}/stalled-feed.xml`, '$onEvent', false);
  await agent.call('check');
  await agent.untilEvent((e) => e.type === 'checking', 'checking');
  await sleep(100);
  await agent.call('cancel');
  await sleep(300);
  // A cancelled check ends its session without an outcome of its own; a new check can start.
  assert.deepEqual(types(agent.events), ['checking']);
  await agent.call('check');
  await agent.until((a) => a.events.length >= 2, 'the second check');
  assert.deepEqual(types(agent.events), ['checking', 'checking']);
  await agent.call('cancel');
  await agent.finish();
});

test('cancel stops a running download', async () => {
  feedText = feed(item({ version: '2.0', archiveName: 'stall-2.0.zip' }));
  const agent = new Agent();
  await agent.call('start', feedURL, '$onEvent', false);
  await agent.call('check');
  await agent.untilEvent((e) => e.percent === 40, 'the first chunk');
  assert.deepEqual(await agent.call('cancel'), { call: 'cancel', result: '<undefined>' });
  await agent.untilEvent((e) => e.type === 'cancelled', 'cancelled');
  await sleep(300);
  const events = types(agent.events);
  assert.deepEqual(events.slice(-1), ['cancelled']);
  assert.ok(!events.includes('ready'));
  assert.deepEqual(await agent.call('cancel'), { call: 'cancel', result: '<undefined>' });
  assert.deepEqual(await agent.call('install'), { call: 'install', threw: 'Update is not ready', code: null });
  await agent.finish();
});

test('the process exits cleanly in the middle of a download', async () => {
  // process.exit() from the callback of the first chunk, with the transfer still held open by
  // the server: the download's thread is still running while the process ends.
  feedText = feed(item({ version: '2.0', archiveName: 'stall-2.0.zip' }));
  const script = `const services = require(${JSON.stringify(path.join(process.env.QV_MODULE_DIR, 'macos_services.node'))});
    services.start(${JSON.stringify(feedURL)}, (event) => {
      console.log(event);
      if (JSON.parse(event).percent === 40) process.exit(0);
    }, false);
    services.check();`;
  const { code, signal, out, err } = await runScript(script);
  assert.equal(signal, null, err);
  assert.equal(code, 0, err);
  assert.equal(err, '');
  assert.deepEqual(JSON.parse(out.trim().split('\n').at(-1)), { type: 'downloading', percent: 40 });
});

test('replace discards the offer and checks again once the session has ended', async () => {
  feedText = feed(item({ version: '2.0' }));
  const agent = new Agent();
  await agent.call('start', feedURL, '$onEvent', false);
  await agent.call('check');
  await agent.untilEvent(isReady, 'ready');
  feedText = feed(item({ version: '2.0' }), item({ version: '2.1' }));
  const before = agent.events.length;
  const started = Date.now();
  assert.deepEqual(await agent.call('replace'), { call: 'replace', result: true });
  assert.deepEqual(await agent.call('replace'), { call: 'replace', result: false });
  await agent.untilEvent((e) => isReady(e) && e.release.version === '2.1', 'the replacement');
  // The re-check waits a second after a replace.
  const after = agent.events.slice(before);
  assert.ok(Date.now() - started >= 900);
  assert.deepEqual(after[0], { type: 'checking' });
  assert.deepEqual(after[1], { type: 'available', release: release('2.1') });
  assert.deepEqual(after.at(-1), { type: 'ready', release: release('2.1') });
  await agent.finish();
});

test('replace at ready cancels the prepared update, and the same version is downloaded again', async () => {
  feedText = feed(item({ version: '2.0' }));
  const agent = new Agent();
  await agent.call('start', feedURL, '$onEvent', false);
  await agent.call('check');
  await agent.untilEvent(isReady, 'ready');
  const before = agent.events.length;
  assert.deepEqual(await agent.call('replace'), { call: 'replace', result: true });
  await agent.until((a) => a.events.slice(before).some(isReady), 'the fourth offer', 20000);
  const after = types(agent.events.slice(before));
  // The skip cancels the prepared installation, so nothing is staged: the fresh check offers the
  // same version as a new download.
  assert.deepEqual(after.slice(0, 4), ['checking', 'available', 'downloading', 'downloading']);
  assert.ok(after.slice(4, -1).every((type) => type === 'downloading'));
  assert.equal(after.at(-1), 'ready');
  await agent.finish();
});

test('a background check downloads in silence and waits to install on quit', async () => {
  feedText = feed(item({ version: '2.0' }));
  const agent = new Agent();
  await agent.call('start', feedURL, '$onEvent', true);
  await agent.untilEvent(isReady, 'ready');
  assert.deepEqual(agent.events, [{ type: 'available', release: release('2.0') },
    { type: 'downloading', canCancel: false }, { type: 'ready', release: release('2.0') }]);
  // The silent session runs on and shows nothing: a check is dropped by the framework, and the
  // installation, once asked for, is not reported.
  await agent.call('check');
  assert.deepEqual(await agent.call('install'), { call: 'install', result: '<undefined>' });
  await sleep(300);
  assert.equal(agent.events.length, 3);
  assert.deepEqual(await agent.call('install'), { call: 'install', threw: 'Update is not ready', code: null });
  await agent.finish();
});

test('after dispose no event arrives', async () => {
  feedText = feed(item({ version: '2.0' }));
  const agent = new Agent();
  await agent.call('start', feedURL, '$onEvent', false);
  await agent.call('check');
  await agent.untilEvent((e) => e.type === 'available', 'available');
  assert.deepEqual(await agent.call('dispose'), { call: 'dispose', result: '<undefined>' });
  const seen = agent.events.length;
  assert.deepEqual(await agent.call('dispose'), { call: 'dispose', result: '<undefined>' });
  await sleep(1000);
  await agent.call('check');
  await sleep(500);
  assert.equal(agent.events.length, seen);
  assert.deepEqual(await agent.call('start', feedURL, '$onEvent', false),
    { call: 'start', threw: 'Invalid updater initialization', code: null });
  await agent.finish();
});

test('events already queued when dispose runs are not delivered', async () => {
  feedText = feed(item({ version: '2.0' }));
  const agent = new Agent();
  // The callback disposes on "available"; the "downloading" events that follow it, a turn later,
  // are either still waiting in the channel or produced after the dispose.
  await agent.call('start', feedURL, '$disposeAt:available', false);
  await agent.call('check');
  await agent.untilEvent((e) => e.type === 'available', 'available');
  await sleep(1000);
  assert.deepEqual(types(agent.events), ['checking', 'available']);
  await agent.finish();
});

test('calls from a worker thread do not reach the updater of the main thread', async () => {
  feedText = feed(item({ version: '2.0' }));
  const agent = new Agent();
  await agent.call('start', feedURL, '$onEvent', false);
  await agent.call('check');
  await agent.untilEvent(isReady, 'ready');
  const seen = agent.events.length;
  const inWorker = async (call, expected) => {
    assert.deepEqual(await agent.call('inWorker', call), { call: `${call} in a worker`, ...expected });
  };
  await inWorker('install', { threw: 'Update is not ready' });
  await inWorker('replace', { result: false });
  await inWorker('cancel', { result: '<undefined>' });
  await inWorker('check', { result: '<undefined>' });
  await inWorker('dispose', { result: '<undefined>' });
  await sleep(300);
  assert.equal(agent.events.length, seen);
  // The update is still parked and the channel still open for the main thread.
  await agent.call('check');
  await agent.untilEvent((e) => e.type === 'focus', 'focus');
  assert.deepEqual(await agent.call('install'), { call: 'install', result: '<undefined>' });
  await agent.untilEvent((e) => e.type === 'installing', 'installing');
  await agent.finish();
});

test('start reads a non-string feed as empty and a non-boolean checkNow as false', async () => {
  feedText = feed(item({ version: '2.0' }));
  const truthy = new Agent();
  assert.deepEqual(await truthy.call('start', feedURL, '$onEvent', 1), { call: 'start', result: '<undefined>' });
  await sleep(700);
  assert.deepEqual(truthy.events, [], 'no background check was started');
  await truthy.call('check');
  await truthy.untilEvent((e) => e.type === 'available', 'available');
  await truthy.finish();

  // With no feed of its own and none configured in this build, the framework starts but every
  // check fails its configuration check, before any "checking".
  const numeric = new Agent();
  assert.deepEqual(await numeric.call('start', 42, '$onEvent', false), { call: 'start', result: '<undefined>' });
  await sleep(300);
  assert.deepEqual(numeric.events, []);
  await numeric.call('check');
  await numeric.until((a) => a.events.length >= 2, 'the configuration error');
  assert.deepEqual(numeric.events, [{ type: 'error', error: 'check', code: 4 },
    { type: 'error', error: 'check', code: 4 }]);
  await numeric.finish();
});

test('start refuses bad calls and creates nothing', async () => {
  const agent = new Agent();
  const refused = { threw: 'Invalid updater initialization', code: null };
  // Before a start every other function is harmless.
  assert.deepEqual(await agent.call('check'), { call: 'check', result: '<undefined>' });
  assert.deepEqual(await agent.call('cancel'), { call: 'cancel', result: '<undefined>' });
  assert.deepEqual(await agent.call('replace'), { call: 'replace', result: false });
  assert.deepEqual(await agent.call('dispose'), { call: 'dispose', result: '<undefined>' });
  assert.deepEqual(await agent.call('start', feedURL, '$onEvent'), { call: 'start', ...refused });
  assert.deepEqual(await agent.call('start', feedURL, '$onEvent', false, 1), { call: 'start', ...refused });
  assert.deepEqual(await agent.call('start', feedURL, 'not a function', false), { call: 'start', ...refused });
  assert.deepEqual(await agent.call('inWorker', 'start', feedURL, '$onEvent', false),
    { call: 'start in a worker', threw: 'Invalid updater initialization' });
  // None of those created the updater: a proper start still succeeds. An empty feed leaves the
  // feed unset, and this build configures none, so a check reports the missing feed.
  assert.deepEqual(await agent.call('start', '', '$onEvent', 'yes'), { call: 'start', result: '<undefined>' });
  await agent.call('check');
  await agent.until((a) => a.events.length >= 2, 'the configuration error');
  assert.deepEqual(agent.events, [{ type: 'error', error: 'check', code: 4 },
    { type: 'error', error: 'check', code: 4 }]);
  assert.deepEqual(await agent.call('start', feedURL, '$onEvent', false), { call: 'start', ...refused });
  await agent.finish();
});

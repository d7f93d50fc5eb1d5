// Child process for the updater's end-to-end tests: loads macos_services once (the updater can
// be started once per process), runs the calls it reads on stdin (one JSON object per line) and
// writes every event callback and call outcome to stdout as JSON lines.
import { createRequire } from 'node:module';
import { createInterface } from 'node:readline';
import { Worker } from 'node:worker_threads';
import path from 'node:path';

const require = createRequire(import.meta.url);
const modulePath = path.join(process.env.QV_MODULE_DIR, 'macos_services.node');
const services = require(modulePath);

const write = (message) => process.stdout.write(JSON.stringify(message) + '\n');
const onEvent = (...args) => write({ event: args });

// Makes one call of the module from a worker thread; answers like a call on the main thread.
function callInWorker(call, args) {
  const source = `
    const { parentPort, workerData } = require('node:worker_threads');
    const services = require(workerData.modulePath);
    const args = workerData.args.map((a) => (a === '$onEvent' ? () => {} : a));
    try {
      const result = services[workerData.call](...args);
      parentPort.postMessage({ result: result === undefined ? '<undefined>' : result });
    } catch (e) { parentPort.postMessage({ threw: e.message }); }`;
  return new Promise((resolve) => {
    const worker = new Worker(source, { eval: true, workerData: { modulePath, call, args } });
    worker.once('message', (message) => resolve(message));
  });
}

const lines = createInterface({ input: process.stdin });
lines.on('line', async (line) => {
  const { call, args = [] } = JSON.parse(line);
  if (call === 'inWorker') {
    const [workerCall, ...workerArgs] = args;
    write({ call: `${workerCall} in a worker`, ...(await callInWorker(workerCall, workerArgs)) });
    return;
  }
  // "$onEvent" stands for the event callback; "$disposeAt:<type>" for one that also calls
  // "dispose" from within the callback of the first event of that type.
  const actual = args.map((a) => {
    if (a === '$onEvent') return onEvent;
    if (typeof a !== 'string' || !a.startsWith('$disposeAt:')) return a;
    const type = a.slice('$disposeAt:'.length);
    return (...event) => {
      onEvent(...event);
      if (JSON.parse(event[0]).type === type) services.dispose();
    };
  });
  try {
    const result = services[call](...actual);
    write({ call, result: result === undefined ? '<undefined>' : result });
  } catch (error) {
    write({ call, threw: error.message, code: error.code ?? null });
  }
});

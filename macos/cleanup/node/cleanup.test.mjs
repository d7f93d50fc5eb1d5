// The cleanup functions of the shipped macos_services module, loaded by a plain node (which
// is no installed application bundle).
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import path from 'node:path';
import { test } from 'node:test';

const require = createRequire(import.meta.url);
const services = require(path.join(process.env.QV_MODULE_DIR, 'macos_services.node'));

const notInstalled = { status: 'not-installed', removed: [] };

test('exports the two cleanup functions', () => {
  assert.equal(typeof services.cleanupCopies, 'function');
  assert.equal(typeof services.cancelCleanup, 'function');
  assert.equal(services.cleanupCopies.name, 'cleanupCopies');
  assert.equal(services.cancelCleanup.name, 'cancelCleanup');
});

test('resolves with the compact JSON text of exactly status and removed', async () => {
  const promise = services.cleanupCopies();
  assert.ok(promise instanceof Promise);
  const text = await promise;
  assert.equal(typeof text, 'string');
  assert.doesNotMatch(text, /\s/);
  const result = JSON.parse(text);
  assert.deepEqual(result, notInstalled);
  assert.deepEqual(Object.keys(result).sort(), ['removed', 'status']);
});

test('a second call while a job runs throws without a code; the first still resolves', async () => {
  const first = services.cleanupCopies();
  const calls = [[], [1, 'two', {}], [undefined]];
  for (const args of calls) {
    assert.throws(
      () => services.cleanupCopies(...args),
      (error) => {
        assert.ok(error instanceof Error);
        assert.equal(error.message, 'Cleanup is already running');
        assert.equal(error.code, undefined);
        return true;
      },
    );
  }
  assert.deepEqual(JSON.parse(await first), notInstalled);
  // Once the job has completed a new one is accepted.
  assert.deepEqual(JSON.parse(await services.cleanupCopies('ignored', 42)), notInstalled);
});

test('cancel returns undefined and does not settle or block later jobs', async () => {
  assert.equal(services.cancelCleanup(), undefined);
  assert.equal(services.cancelCleanup('ignored'), undefined);
  const job = services.cleanupCopies();
  assert.equal(services.cancelCleanup(), undefined);
  assert.deepEqual(JSON.parse(await job), notInstalled);
});

test('many jobs in a row each resolve once', async () => {
  for (let i = 0; i < 50; i += 1) {
    assert.deepEqual(JSON.parse(await services.cleanupCopies()), notInstalled);
  }
});

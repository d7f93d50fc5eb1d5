// The declarations of @quorvel/macos-services under the TypeScript compiler: a consumer of every
// function, event and result compiles in strict mode, and a misspelt event member does not.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { typecheck } from '../common/typecheck_testing.mjs';

test('the consumer compiles under --strict', () => {
  const run = typecheck('macos/types_consumer.mts');
  assert.equal(run.status, 0, run.output);
  assert.deepEqual(run.diagnostics, []);
});

test('a misspelt event member is a compile error', () => {
  const run = typecheck('macos/types_misspelt.mts');
  assert.notEqual(run.status, 0);
  assert.equal(run.diagnostics.length, 1, run.output);
  const [diagnostic] = run.diagnostics;
  assert.match(diagnostic, /^macos\/types_misspelt\.mts\(5,\d+\): error TS\d+: /);
  assert.match(diagnostic, /Property 'percnt' does not exist on type 'DownloadingEvent'/);
});

// The declarations of @quorvel/chat-codec and @quorvel/chat-delta under the TypeScript compiler:
// a consumer of the encoder, its deltas and applyDelta compiles in strict mode.
import assert from 'node:assert/strict';
import { test } from 'node:test';

import { typecheck } from '../common/typecheck_testing.mjs';

test('the consumer compiles under --strict', () => {
  const run = typecheck('chat_codec/types_consumer.mts');
  assert.equal(run.status, 0, run.output);
  assert.deepEqual(run.diagnostics, []);
});

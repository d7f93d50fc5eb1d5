// Demo: a streamed assistant message goes to a peer as deltas from NativeMessageEncoder; the
// peer applies them to its copy with applyDelta. Prints the bytes sent beside what complete
// messages would cost.
import assert from 'node:assert/strict';

import { NativeMessageEncoder } from '@quorvel/chat-codec';
import { applyDelta } from '@quorvel/chat-delta';

// The peer's side: what it holds, replaced by a complete message or advanced by a delta.
const peer = {
  seq: null,
  message: null,
  receive(packet) {
    if (packet.complete) {
      this.message = JSON.parse(packet.complete);
    } else {
      const delta = JSON.parse(packet.delta);
      assert.equal(delta.baseSeq, this.seq, 'delta against the version the peer holds');
      this.message = applyDelta(this.message, delta);
    }
    this.seq = packet.seq;
  },
};

// An assistant turn: text streamed a few characters at a time, a tool call whose input
// arrives in pieces, then more text and the final usage.
const message = {
  id: 'msg_demo', role: 'assistant', content: [{ type: 'text', text: '' }],
  stop_reason: null, usage: { input_tokens: 2048, output_tokens: 0 },
};
const answer = [
  'Let me look at the project files first, then I will summarise what changed since yesterday.',
  'The release branch has three open pull requests: the updater fix, the cleanup of stale app',
  'copies and the new browser bridge. Two of them are approved and only wait for the nightly',
  'build; the third needs another review because it touches the socket relay and its retry',
  'logic. The test suite passed on every platform last night, except for one flaky case in the',
  'download progress events that has been seen twice this week. I would suggest merging the two',
  'approved changes this morning, asking for the second review before lunch, and looking at the',
  'flaky case together with whoever wrote the progress reporting, so that the release candidate',
  'can be cut tomorrow as planned.',
].join(' ');
const steps = [];
for (let i = 0; i < answer.length; i += 6) {
  steps.push((m) => { m.content[0].text += answer.slice(i, i + 6); m.usage.output_tokens++; });
}
steps.push((m) => m.content.push({ type: 'tool_use', id: 'toolu_1', name: 'list_files', input: {} }));
steps.push((m) => { m.content[1].input.path = '/home/user/project'; });
steps.push((m) => { m.content[1].input.options = { recursive: true, depth: 2 }; });
steps.push((m) => m.content.push({ type: 'text', text: '' }));
for (const piece of ['Found ', '42 files', ' in 7 folders.']) {
  steps.push((m) => { m.content[2].text += piece; m.usage.output_tokens += 2; });
}
steps.push((m) => { m.stop_reason = 'end_turn'; });

const encoder = new NativeMessageEncoder();
let seq = 0;
let sent = 0;
let complete = 0;
let deltas = 0;
const shown = [];
function send(forceComplete = false) {
  seq += 1;
  const delta = encoder.update(seq, message, forceComplete);
  const whole = JSON.stringify(message);
  const packet = delta === null
    ? { seq, complete: whole }
    : { seq, delta: JSON.stringify(delta) };
  sent += (packet.complete ?? packet.delta).length;
  complete += whole.length;
  if (delta !== null) deltas += 1;
  if (delta !== null && (seq % 40 === 0 || seq > steps.length - 2)) shown.push(packet.delta);
  peer.receive(packet);
}

send();
for (const step of steps) {
  step(message);
  send();
}
assert.deepEqual(peer.message, message, 'the peer holds the same message');

console.log(`streamed ${seq} versions of one assistant message (${deltas} as deltas)`);
console.log('a few of the deltas sent:');
for (const text of shown) console.log(`  ${text}`);
console.log(`bytes sent as deltas:              ${sent}`);
console.log(`bytes as complete messages:        ${complete}`);
console.log(`saved:                             ${(100 * (1 - sent / complete)).toFixed(1)}%`);
console.log('the peer\'s copy equals the sender\'s message: yes');

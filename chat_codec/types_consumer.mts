// Compiled under --strict by types.test.mjs: the codec's declarations as the application uses
// them. Each @ts-expect-error line must stay an error, so the declarations cannot loosen.
import type * as ChatCodec from '@quorvel/chat-codec';
import type { CodecError, Delta, Edit, PathSegment } from '@quorvel/chat-codec';
import { applyDelta, DeltaError } from '@quorvel/chat-delta';

declare function loadNativeModule(file: string): unknown;  // the application's require()
const { NativeMessageEncoder } = loadNativeModule('quorvel_chat_codec.node') as typeof ChatCodec;

function describe(edit: Edit): string {
  const where = edit.path.map((segment: PathSegment) => String(segment)).join('/');
  switch (edit.op) {
    case 'set':
      return `${where} = ${JSON.stringify(edit.value)}`;
    case 'remove':
      return `${where} removed`;
    case 'append':
      return `${where} += ${edit.text} at ${edit.offset.toFixed(0)}`;
    default: {
      const unreachable: never = edit;
      return unreachable;
    }
  }
}

const encoder = new NativeMessageEncoder();
const message = { role: 'assistant', content: [{ type: 'text', text: 'Hel' }] };
const before: number | null = encoder.messageSeq;
if (encoder.update(1, message, false) !== null) throw new Error('the first update is complete');
message.content[0].text += 'lo';
const delta: Delta | null = encoder.update(2, message, false);
encoder.reset();

let peer: unknown = { role: 'assistant', content: [{ type: 'text', text: 'Hel' }] };
try {
  if (delta !== null) {
    const baseSeq: number = delta.baseSeq;
    peer = applyDelta(peer, delta);
    console.log(baseSeq, before, delta.edits.map(describe), peer);
  }
} catch (error) {
  if (error instanceof DeltaError) console.log(error.editIndex, error.path, error.message);
  else throw error;
}

export function codeOf(error: CodecError): string {
  return error.code === 'GenericFailure' ? `refused: ${error.message}` : error.code;
}

// @ts-expect-error messageSeq can only be read
encoder.messageSeq = 3;
// @ts-expect-error an append carries its offset
export const noOffset: Edit = { path: ['text'], op: 'append', text: 'x' };
// @ts-expect-error a remove carries no value
export const removeWithValue: Edit = { path: ['a'], op: 'remove', value: 1 };
// @ts-expect-error forceComplete is not optional
encoder.update(3, message);
// @ts-expect-error codes are Node-API status names
export const badCode: CodecError['code'] = 'EINVAL';

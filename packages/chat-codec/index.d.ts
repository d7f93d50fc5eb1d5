// Types of @quorvel/chat-codec: NativeMessageEncoder, the errors it throws, and the delta
// types it shares with the receiving side, @quorvel/chat-delta.
import type { Delta } from '@quorvel/chat-delta';

export type { AppendEdit, Delta, Edit, PathSegment, RemoveEdit, SetEdit } from '@quorvel/chat-delta';

/**
 * The `code` of the errors the module throws: the name of a Node-API status. The codec's own
 * refusals (an invalid sequence number, a message it cannot capture) carry "GenericFailure",
 * wrong argument types "NumberExpected" or "BooleanExpected", and a call into an encoder from
 * inside its own `update` (a getter of the message) "InvalidArg".
 */
export type CodecErrorCode =
  | 'Ok'
  | 'InvalidArg'
  | 'ObjectExpected'
  | 'StringExpected'
  | 'NameExpected'
  | 'FunctionExpected'
  | 'NumberExpected'
  | 'BooleanExpected'
  | 'ArrayExpected'
  | 'GenericFailure'
  | 'PendingException'
  | 'Cancelled'
  | 'EscapeCalledTwice'
  | 'HandleScopeMismatch'
  | 'CallbackScopeMismatch'
  | 'QueueFull'
  | 'Closing'
  | 'BigintExpected'
  | 'DateExpected'
  | 'ArrayBufferExpected'
  | 'DetachableArraybufferExpected'
  | 'WouldDeadlock'
  | 'NoExternalBuffersAllowed'
  | 'Unknown';

/**
 * An error thrown by the module. What a getter of the message throws during `update` reaches the
 * caller unchanged instead.
 */
export interface CodecError extends Error {
  code: CodecErrorCode;
}

/** Follows one chat message as it changes and answers each new version with a delta or null. */
export declare class NativeMessageEncoder {
  constructor();

  /**
   * The sequence number of the last message stored by `update`, or null when there is none
   * (a new encoder, after `reset`, or after an update refused for its sequence number or its
   * message).
   */
  readonly messageSeq: number | null;

  /**
   * Stores `message` under `messageSeq` (an integer from 0 to 2^53 - 1) and answers null when
   * the complete message must be sent (no stored message, `forceComplete`, more than 256 edits,
   * or paths whose keys together would be more than twice the message's size plus 64 KiB),
   * else the edits against the message stored before. The message may hold primitives,
   * plain objects and dense arrays; anything else throws.
   *
   * Throws a `CodecError` with code "GenericFailure" when the message breaks a native budget:
   * nesting deeper than 32 levels, more than 20,000 nodes (every value, every string and every
   * key counts), more than 8 MiB estimated (32 bytes a node plus 2 bytes a UTF-16 unit of text
   * and keys), or an array or object with more than 20,000 elements or keys; likewise for a value
   * it cannot capture (functions, symbols, bigints, class instances, arrays with holes or extra
   * members) and an invalid `messageSeq`. The encoder then holds no message, so the next update
   * answers null; send the complete message for this version.
   */
  update(messageSeq: number, message: unknown, forceComplete: boolean): Delta | null;

  /** Forgets the stored message and frees its memory, so the next `update` answers null. */
  reset(): void;
}

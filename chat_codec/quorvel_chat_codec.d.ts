// Types of quorvel_chat_codec.node, the module that exports NativeMessageEncoder. The module is
// loaded with require(); type what it returns as typeof import('./quorvel_chat_codec.js').

/** One step of an edit's path: an object key (a string) or an array index (a number). */
export type PathSegment = string | number;

/** The value that now stands at `path` (an empty path replaces the whole message). */
export interface SetEdit {
  path: PathSegment[];
  op: 'set';
  value: unknown;
}

/** The object member at `path` is gone. Array elements are never removed one by one. */
export interface RemoveEdit {
  path: PathSegment[];
  op: 'remove';
}

/**
 * The string at `path` grew by `text`. `offset` is the old string's length in UTF-16 code units
 * (JavaScript's string length), where the text begins.
 */
export interface AppendEdit {
  path: PathSegment[];
  op: 'append';
  offset: number;
  text: string;
}

/** One change, told apart by `op`. Paths run from the message's root, outermost first. */
export type Edit = SetEdit | RemoveEdit | AppendEdit;

/**
 * What `update` answers when the peer can be sent edits: applied in order to the message sent
 * under `baseSeq`, they give the new message (key order inside objects aside).
 */
export interface Delta {
  baseSeq: number;
  edits: Edit[];
}

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
   */
  update(messageSeq: number, message: unknown, forceComplete: boolean): Delta | null;

  /** Forgets the stored message and frees its memory, so the next `update` answers null. */
  reset(): void;
}

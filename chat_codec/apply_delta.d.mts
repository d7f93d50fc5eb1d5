// Types of apply_delta.mjs, the receiving side of NativeMessageEncoder's deltas.
import type { Delta } from './quorvel_chat_codec.js';

/** Thrown by `applyDelta` for an edit that does not fit the message. */
export declare class DeltaError extends Error {
  readonly name: 'DeltaError';
  /** The position of the edit in `delta.edits`. */
  readonly editIndex: number;
  /** The edit's path as it was given: `PathSegment[]`, unless the edit had no path array. */
  readonly path: unknown;
}

/**
 * Applies the edits of `delta`, in order, to `message` (the version sent under `delta.baseSeq`;
 * checking that is the caller's part) and returns the new message. Neither argument is modified;
 * the result shares unchanged parts with `message` and "set" values with `delta`. Throws a
 * `DeltaError` naming the edit's index and path when an edit does not fit: a path through a
 * missing member or element or a value that is not an object or array, an "append" to a value
 * that is not a string or at an offset other than its length, a "remove" of a missing member.
 */
export declare function applyDelta(message: unknown, delta: Delta): unknown;

// Types of @quorvel/chat-delta (index.cjs and, through index.d.mts, index.mjs), the receiving
// side of NativeMessageEncoder's deltas: the delta format itself and applyDelta. They stand
// alone, so a renderer or a browser extension can be typed without the native package.

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

// The receiving side of NativeMessageEncoder: applies a delta to the message the peer holds.
// Plain JavaScript without dependencies, so a browser or a renderer can load it as it is; the
// package's require entry, index.cjs, is made from this file when the package is packed.
//
// The input message and the delta are never modified. The result is a new message that shares
// every untouched part with the input and every "set" value with the delta, so a renderer can
// tell changed parts by identity; copy the result before changing it in place.

// Marks every DeltaError, so that `instanceof` holds across the package's import and require
// entries (two module instances, two classes) and across copies of the package.
const BRAND = Symbol.for('@quorvel/chat-delta:DeltaError');

// An edit that does not fit the message it is applied to.
export class DeltaError extends Error {
  constructor(editIndex, path, reason) {
    super(`Edit ${editIndex} at path ${describe(path)} does not fit the message: ${reason}`);
    this.name = 'DeltaError';
    this.editIndex = editIndex;
    this.path = path;
    Object.defineProperty(this, BRAND, { value: true });
  }

  static [Symbol.hasInstance](value) {
    return value !== null && typeof value === 'object' && value[BRAND] === true;
  }
}

export function applyDelta(message, delta) {
  if (delta === null || typeof delta !== 'object' || !Array.isArray(delta.edits)) {
    throw new TypeError('applyDelta needs a delta: an object with an edits array');
  }
  // Containers copied by this call; later edits below them change the copy in place.
  const copies = new Set();
  let root = message;
  for (let index = 0; index < delta.edits.length; index++) {
    root = applyEdit(root, delta.edits[index], index, copies);
  }
  return root;
}

function applyEdit(root, edit, index, copies) {
  if (edit === null || typeof edit !== 'object' || !Array.isArray(edit.path)) {
    throw new DeltaError(index, edit?.path, 'it is not an edit (an object with a path array)');
  }
  const { path, op } = edit;
  const fail = (reason) => new DeltaError(index, path, reason);
  if (op !== 'set' && op !== 'remove' && op !== 'append') throw fail(`unknown op ${describe(op)}`);

  if (path.length === 0) {
    if (op === 'set') return edit.value;
    if (op === 'remove') throw fail('the whole message cannot be removed');
    return appended(root, edit, fail);
  }

  if (!isContainer(root)) throw fail(`the message is ${kind(root)}, not an object or array`);
  const top = writable(root, copies);
  let parent = top;
  for (let i = 0; i < path.length - 1; i++) {
    const segment = path[i];
    checkSegment(parent, segment, i, fail);
    if (!has(parent, segment)) throw fail(`segment ${i} ${missing(parent, segment)}`);
    const child = parent[segment];
    if (!isContainer(child)) {
      throw fail(`segment ${i} leads to ${kind(child)}, not an object or array`);
    }
    const copy = writable(child, copies);
    if (copy !== child) put(parent, segment, copy);
    parent = copy;
  }

  const last = path.length - 1;
  const segment = path[last];
  checkSegment(parent, segment, last, fail);
  switch (op) {
    case 'set':
      // Arrays grow one element at a time, at their end; a gap would leave a hole.
      if (Array.isArray(parent) && segment > parent.length) {
        throw fail(`index ${segment} is beyond the end of an array of length ${parent.length}`);
      }
      put(parent, segment, edit.value);
      break;
    case 'remove':
      // Arrays only shrink by a "set" of the whole array.
      if (Array.isArray(parent)) throw fail('array elements are not removed one by one');
      if (!has(parent, segment)) throw fail(`segment ${last} ${missing(parent, segment)}`);
      delete parent[segment];
      break;
    default:
      if (!has(parent, segment)) throw fail(`segment ${last} ${missing(parent, segment)}`);
      put(parent, segment, appended(parent[segment], edit, fail));
      break;
  }
  return top;
}

function appended(current, edit, fail) {
  if (typeof current !== 'string') throw fail(`"append" to ${kind(current)}, not a string`);
  if (typeof edit.text !== 'string') throw fail('"append" without a text string');
  if (edit.offset !== current.length) {
    const offset = describe(edit.offset);
    throw fail(`"append" at offset ${offset} to a string of length ${current.length}`);
  }
  return current + edit.text;
}

// Keys step into objects, indices into arrays; anything else does not fit.
function checkSegment(parent, segment, i, fail) {
  if (Array.isArray(parent)) {
    if (!Number.isInteger(segment) || segment < 0) {
      throw fail(`segment ${i} (${describe(segment)}) is not an index, but its container is an `
        + 'array');
    }
  } else if (typeof segment !== 'string') {
    throw fail(`segment ${i} (${describe(segment)}) is not a key, but its container is an object`);
  }
}

function has(parent, segment) {
  return Array.isArray(parent) ? segment < parent.length : Object.hasOwn(parent, segment);
}

function missing(parent, segment) {
  return Array.isArray(parent)
    ? `(${segment}) is beyond the end of an array of length ${parent.length}`
    : `(${describe(segment)}) names no member of its object`;
}

// Arrays and plain objects of any realm (prototype null, or a prototype without one).
function isContainer(value) {
  if (Array.isArray(value)) return true;
  if (value === null || typeof value !== 'object') return false;
  const proto = Object.getPrototypeOf(value);
  return proto === null || Object.getPrototypeOf(proto) === null;
}

// The container itself when this call made it, else a shallow copy that this call then owns.
function writable(container, copies) {
  if (copies.has(container)) return container;
  let copy;
  if (Array.isArray(container)) {
    copy = container.slice();
  } else if (Object.getPrototypeOf(container) === null) {
    copy = Object.assign(Object.create(null), container);
  } else {
    copy = { ...container };  // own "__proto__" members stay own members
  }
  copies.add(copy);
  return copy;
}

// Defines rather than assigns, so a key such as "__proto__" becomes an ordinary member.
function put(parent, segment, value) {
  if (Array.isArray(parent)) {
    parent[segment] = value;
  } else {
    Object.defineProperty(parent, segment, {
      value, writable: true, enumerable: true, configurable: true,
    });
  }
}

function kind(value) {
  if (value === null) return 'null';
  if (Array.isArray(value)) return 'an array';
  if (typeof value === 'object') return isContainer(value) ? 'an object' : 'a non-plain object';
  return typeof value === 'undefined' ? 'undefined' : `a ${typeof value}`;
}

function describe(value) {
  try {
    const text = JSON.stringify(value);
    if (text !== undefined) return text;
    return String(value);
  } catch {
    return 'an unprintable value';
  }
}

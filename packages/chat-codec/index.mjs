// Named exports for import: the same module object that require() gives.
import codec from './index.js';

export const { NativeMessageEncoder } = codec;

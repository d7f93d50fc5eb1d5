// Named exports for import: the same module object that require() gives.
import services from './index.js';

export const {
  start, check, install, replace, cancel, dispose, cleanupCopies, cancelCleanup,
} = services;

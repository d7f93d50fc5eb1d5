// The import entry (index.mjs) re-exports the require entry (index.js) by name.
export * from './index.js';

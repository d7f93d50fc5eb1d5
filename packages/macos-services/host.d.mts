// The import entry (host.mjs) re-exports the require entry (host.js) by name.
export * from './host.js';

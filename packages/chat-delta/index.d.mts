// The import entry (index.mjs) exports what the require entry (index.cjs) does.
export * from './index.cjs';

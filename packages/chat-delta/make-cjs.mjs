// Writes index.cjs, the require entry, from index.mjs (run by npm before it packs the package).
// index.mjs stays the one source: it declares its exports as "export class" and "export
// function" and imports nothing, and anything else stops the conversion.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const source = fs.readFileSync(path.join(here, 'index.mjs'), 'utf8');
const names = [];
const body = source.replace(/^export (class|function) ([A-Za-z_$][\w$]*)/gm, (_, kind, name) => {
  names.push(name);
  return `${kind} ${name}`;
});
if (names.length === 0 || /^\s*(export|import)\b|\bimport\s*[.(]/m.test(body)) {
  throw new Error('index.mjs must export only classes and functions, and import nothing');
}
const out = `'use strict';\n// Made from index.mjs when the package is packed; change index.mjs instead.\n${body}\n`
  + `module.exports = { ${names.join(', ')} };\n`;
fs.writeFileSync(path.join(here, 'index.cjs'), out);

// Shared by the declaration tests: compiles TypeScript files with the project's compiler in
// strict mode, emitting nothing, and returns its exit status and diagnostics.
import { spawnSync } from 'node:child_process';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const tsc = path.join(root, 'node_modules', 'typescript', 'bin', 'tsc');

export function typecheck(...files) {
  const run = spawnSync(process.execPath, [tsc, '--strict', '--noEmit', '--pretty', 'false',
    '--module', 'nodenext', '--target', 'es2022', ...files], { cwd: root, encoding: 'utf8' });
  if (run.error) throw run.error;
  const output = run.stdout + run.stderr;
  // First lines of diagnostics: "file(line,column): error TSnnnn: text".
  const diagnostics = output.split('\n').filter((line) => / error TS\d+: /.test(line));
  return { status: run.status, output, diagnostics };
}

// Shared by the codec's Node tests: loads the module that the build under test produced.
import { createRequire } from 'node:module';
import path from 'node:path';

const require = createRequire(import.meta.url);
const dir = process.env.QV_MODULE_DIR;
if (!dir) throw new Error('QV_MODULE_DIR must name the build\'s modules folder');

export const codec = require(path.join(dir, 'quorvel_chat_codec.node'));
export const { NativeMessageEncoder } = codec;

// Runs fn and returns what it threw (fails when nothing was thrown).
export function thrown(fn) {
  try {
    fn();
  } catch (error) {
    return error;
  }
  throw new Error('expected a throw');
}

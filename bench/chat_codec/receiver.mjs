// The receiving process of the benchmark's end-to-end rows: keeps its copy of the message from
// the lines it reads on standard input, one update per line, and answers on standard output.
//   c<json>  the complete message          d<json>  a delta for applyDelta
//   p<json>  a fast-json-patch patch       a        answer "ok" (the stream so far is applied)
//   e        answer the CPU time used since the last "a" and a digest of the copy
import { createHash } from 'node:crypto';
import readline from 'node:readline';

import jsonPatch from 'fast-json-patch';

import { applyDelta } from '@quorvel/chat-delta';

let copy = null;
let cpu = process.cpuUsage();

const lines = readline.createInterface({ input: process.stdin, crlfDelay: Infinity });
for await (const line of lines) {
  const body = line.slice(1);
  switch (line[0]) {
    case 'c':
      copy = JSON.parse(body);
      break;
    case 'd':
      copy = applyDelta(copy, JSON.parse(body));
      break;
    case 'p':
      // The receiver's copy is its own, so the patch changes it in place.
      copy = jsonPatch.applyPatch(copy, JSON.parse(body), false, true).newDocument;
      break;
    case 'a':
      cpu = process.cpuUsage();
      process.stdout.write('ok\n');
      break;
    case 'e': {
      const used = process.cpuUsage(cpu);
      const digest = createHash('sha256').update(JSON.stringify(copy)).digest('hex');
      process.stdout.write(`${JSON.stringify({ cpuUs: used.user + used.system, digest })}\n`);
      break;
    }
    default:
      throw new Error(`unknown line ${line.slice(0, 20)}`);
  }
}

// Compares the host's UTF-8 repair, header scan and id rendering with independent reference
// implementations: the platform's UTF-8 decoder, JSON.parse and JavaScript's own number
// formatting, over generated and adversarial inputs.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import path from 'node:path';
import fc from 'fast-check';

const probePath = path.join(process.env.QV_BUILD_DIR, 'host', 'host_codec_probe');
let probe;

before(() => {
  probe = spawn(probePath, [], { stdio: ['pipe', 'pipe', 'inherit'] });
});
after(async () => {
  probe.stdin.end();
  const code = await new Promise((resolve) => probe.on('exit', resolve));
  assert.equal(code, 0);
});

// Sends a batch of requests and resolves with the answers, in order.
function ask(op, inputs) {
  return new Promise((resolve, reject) => {
    const answers = [];
    let pending = Buffer.alloc(0);
    const onData = (chunk) => {
      pending = Buffer.concat([pending, chunk]);
      while (pending.length >= 4) {
        const n = pending.readUInt32LE(0);
        if (pending.length < 4 + n) break;
        answers.push(pending.subarray(4, 4 + n));
        pending = pending.subarray(4 + n);
      }
      if (answers.length === inputs.length) {
        probe.stdout.off('data', onData);
        resolve(answers);
      }
    };
    probe.stdout.on('data', onData);
    probe.once('error', reject);
    const parts = [];
    for (const input of inputs) {
      const head = Buffer.alloc(5);
      head.write(op, 0, 'latin1');
      head.writeUInt32LE(input.length, 1);
      parts.push(head, Buffer.from(input));
    }
    probe.stdin.write(Buffer.concat(parts));
  });
}

const decoder = new TextDecoder('utf-8', { ignoreBOM: true });
const encoder = new TextEncoder();
const referenceRepair = (bytes) => Buffer.from(encoder.encode(decoder.decode(bytes)));

// Pieces that sit on the edges of UTF-8's well-formedness table.
const fragments = [
  [0x41], [0x00], [0x7f], [0x80], [0xbf], [0xc0], [0xc1], [0xc2], [0xdf], [0xe0], [0xed],
  [0xef], [0xf0], [0xf4], [0xf5], [0xff], [0xc3, 0xa9], [0xe2, 0x82, 0xac], [0xe0, 0xa0, 0x80],
  [0xe0, 0x9f, 0x80], [0xed, 0x9f, 0xbf], [0xed, 0xa0, 0x80], [0xf0, 0x90, 0x80, 0x80],
  [0xf0, 0x8f, 0xbf, 0xbf], [0xf4, 0x8f, 0xbf, 0xbf], [0xf4, 0x90, 0x80, 0x80],
  [0xf0, 0x9f, 0x98], [0xe2, 0x82], [0xef, 0xbb, 0xbf], Array(17).fill(0x61),
];
const adversarialBytes = fc
  .array(fc.constantFrom(...fragments), { maxLength: 24 })
  .map((parts) => Uint8Array.from(parts.flat()));
const anyBytes = fc.uint8Array({ maxLength: 64 });
const mostlyAscii = fc
  .array(fc.oneof(fc.integer({ min: 0x20, max: 0x7e }), fc.integer({ min: 0, max: 255 })), {
    maxLength: 200,
  })
  .map((a) => Uint8Array.from(a));

test('repair_utf8 agrees with the platform decoder on every input', async () => {
  const inputs = [
    ...fc.sample(adversarialBytes, { numRuns: 3000, seed: 1 }),
    ...fc.sample(anyBytes, { numRuns: 3000, seed: 2 }),
    ...fc.sample(mostlyAscii, { numRuns: 1000, seed: 3 }),
  ];
  const answers = await ask('u', inputs);
  inputs.forEach((input, i) => {
    assert.deepEqual(answers[i], referenceRepair(input), `input ${Buffer.from(input).toString('hex')}`);
  });
});

// JSON texts with "id" and "event" members written in many ways, nested, repeated and escaped.
const escapedChar = fc.oneof(
  fc.constantFrom('\\"', '\\\\', '\\/', '\\b', '\\f', '\\n', '\\r', '\\t', 'a', 'é', '😀', ' '),
  fc.integer({ min: 0, max: 0xffff }).map((u) => '\\u' + u.toString(16).padStart(4, '0')),
  fc.constantFrom('\\ud83d', '\\ude00', '\\uD83D\\uDE00', '\\u0069', '\\u0064', '\\u006c'),
);
const jsonString = fc.array(escapedChar, { maxLength: 8 }).map((cs) => '"' + cs.join('') + '"');
const keyString = fc.oneof(
  fc.constantFrom('"id"', '"event"', '"\\u0069d"', '"\\u0065vent"', '"i\\u0064"', '"ids"', '"x"'),
  jsonString,
);
const numberText = fc.oneof(
  fc.double().filter(Number.isFinite).map(String),
  fc.integer().map(String),
  fc.constantFrom('0', '-0', '0.0', '0e5', '1e400', '-1e400', '1e-400', '1E+2', '1.50', '-7.0'),
);
const ws = fc.constantFrom('', ' ', '\n', '\t', '\r\n ');
const scalar = fc.oneof(numberText, jsonString, fc.constantFrom('true', 'false', 'null'));
const value = fc.letrec((tie) => ({
  value: fc.oneof({ depthSize: 'small', withCrossShrink: true }, scalar, tie('array'), tie('object')),
  array: fc.array(tie('value'), { maxLength: 3 }).map((vs) => '[' + vs.join(',') + ']'),
  object: fc
    .array(fc.tuple(keyString, ws, tie('value')), { maxLength: 4 })
    .map((ms) => '{' + ms.map(([k, w, v]) => k + w + ':' + w + v).join(',') + '}'),
})).value;
const topObject = fc
  .tuple(ws, fc.array(fc.tuple(keyString, ws, value), { maxLength: 5 }), ws)
  .map(([a, ms, b]) => a + '{' + ms.map(([k, w, v]) => k + w + ':' + w + v).join(',') + '}' + b);
// Small edits turn valid texts into near-misses: cut, duplicated or replaced characters.
const edited = fc
  .tuple(fc.oneof(topObject, value), fc.nat(), fc.constantFrom('', ',', '}', ']', '"', '0', '+', '.', '\\', '\u0001', '\uFEFF'))
  .map(([t, at, insert]) => {
    const i = t.length ? at % t.length : 0;
    return t.slice(0, i) + insert + t.slice(i + (at % 3 === 0 ? 1 : 0));
  });

function reference(bytes) {
  try {
    return { valid: true, doc: JSON.parse(decoder.decode(bytes)) };
  } catch {
    return { valid: false };
  }
}

test('scan_header agrees with JSON.parse on validity, id and event', async () => {
  const texts = [
    ...fc.sample(topObject, { numRuns: 3000, seed: 4 }),
    ...fc.sample(value, { numRuns: 1000, seed: 5 }),
    ...fc.sample(edited, { numRuns: 3000, seed: 6 }),
  ];
  const inputs = texts.map((t) => Buffer.from(t, 'utf8'));
  const answers = await ask('s', inputs);
  let valid = 0;
  inputs.forEach((input, i) => {
    const got = answers[i].toString('latin1');
    const ref = reference(input);
    const label = JSON.stringify(texts[i]);
    assert.equal(got[0], ref.valid ? '1' : '0', `validity of ${label}`);
    if (!ref.valid) return;
    ++valid;
    const header = JSON.parse(got.slice(1));
    const doc = ref.doc;
    const isObject = doc !== null && typeof doc === 'object' && !Array.isArray(doc);
    const id = isObject && Object.hasOwn(doc, 'id') ? doc.id : undefined;
    const event = isObject && Object.hasOwn(doc, 'event') ? doc.event : undefined;
    if (typeof id === 'number') {
      assert.ok(header.idText, `id of ${label}`);
      const idText = Buffer.from(header.idText).toString('latin1');
      assert.ok(Object.is(Number(idText), id), `id text ${idText} of ${label}`);
      const idValue = typeof header.idValue === 'string' ? Number(header.idValue.replace('inf', 'Infinity')) : header.idValue;
      assert.ok(Object.is(idValue, id), `id value ${header.idValue} of ${label}`);
    } else {
      assert.equal(header.idText, null, `id of ${label}`);
    }
    if (typeof event === 'string') {
      assert.ok(header.event, `event of ${label}`);
      assert.deepEqual(Buffer.from(header.event), Buffer.from(encoder.encode(event)), `event of ${label}`);
    } else {
      assert.equal(header.event, null, `event of ${label}`);
    }
  });
  // The generators must actually reach both outcomes in quantity.
  assert.ok(valid > 3000 && valid < inputs.length - 1000, `valid ${valid} of ${inputs.length}`);
});

const numberWritings = fc.oneof(
  fc.double({ noNaN: true }).map(String),
  fc.double({ noNaN: true, min: -1e22, max: 1e22 }).map((d) => d.toExponential()),
  fc.tuple(fc.double({ noNaN: true, min: -1e20, max: 1e20 }), fc.integer({ min: 0, max: 5 })).map(([d, k]) =>
    d.toFixed(k),
  ),
  fc.bigInt({ min: -(10n ** 25n), max: 10n ** 25n }).map(String),
  fc.tuple(fc.integer({ min: -99999, max: 99999 }), fc.integer({ min: -400, max: 400 })).map(([m, e]) => `${m}e${e}`),
);

test('oversize replies render ids the way JavaScript prints whole numbers', async () => {
  const texts = fc.sample(numberWritings, { numRuns: 4000, seed: 7 }).filter((t) => !/Infinity/.test(t));
  const inputs = texts.map((t) => Buffer.from(`{"id":${t},"x":[]}`));
  const answers = await ask('o', inputs);
  texts.forEach((text, i) => {
    const v = Number(text);
    let expected;
    if (!Number.isFinite(v)) expected = 'null';
    else if (v === 0) expected = '0';
    else if (Number.isInteger(v) && Math.abs(v) < 1e21) expected = String(v);
    else expected = text;
    const reply = JSON.parse(answers[i].toString());
    assert.equal(answers[i].toString(), `{"id":${expected},"error":"The message is larger than the browser accepts (1 MB)."}`, text);
    assert.deepEqual(Object.keys(reply), ['id', 'error']);
  });
});

// The page's codec against the byte vectors the C++ codec answers to, the bytes the C++ encoder
// writes (golden files, when run from ctest), and hostile input.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { CodecError, Float64, MAX_NESTING_DEPTH, decodeEnvelope, decodeFrame, decodeMessage, encodeFrame,
  encodeMessage, encodeMethodCall } from '../../web/js/standard_codec.js';

const vectors = JSON.parse(readFileSync(new URL('../data/codec_vectors.json', import.meta.url), 'utf8'));
const fromHex = (hex) => Uint8Array.from(Buffer.from(hex, 'hex'));
const hex = (bytes) => Buffer.from(bytes.buffer, bytes.byteOffset, bytes.byteLength).toString('hex');

// A value of the vectors' notation as the page holds it: as handed to the encoder (integral
// doubles wrapped), or as the decoder gives it back.
function fromNotation(notation, forEncoding = false) {
  const of = (n) => fromNotation(n, forEncoding);
  if (notation === null || typeof notation !== 'object') return notation;
  if (Array.isArray(notation)) return notation.map(of);
  const [[kind, content]] = Object.entries(notation);
  switch (kind) {
    case 'int32': return content;
    case 'int64': return BigInt(content);
    case 'float64': return forEncoding ? new Float64(content) : content;
    case 'bytes': return fromHex(content);
    case 'int32s': return Int32Array.from(content);
    case 'int64s': return BigInt64Array.from(content, BigInt);
    case 'float32s': return Float32Array.from(content);
    case 'float64s': return Float64Array.from(content);
    case 'map': {
      const pairs = content.map(([key, item]) => [of(key), of(item)]);
      return pairs.every(([key]) => typeof key === 'string') ? Object.fromEntries(pairs) : new Map(pairs);
    }
  }
  throw new Error(`no value notation: ${JSON.stringify(notation)}`);
}

// deepStrictEqual ignores the order of a Map's entries; the wire order is part of the value.
function ordered(v) {
  if (v instanceof Map) return { entries: [...v].map(([k, x]) => [ordered(k), ordered(x)]) };
  if (Array.isArray(v)) return v.map(ordered);
  return v?.constructor === Object ? Object.fromEntries(Object.entries(v).map(([k, x]) => [k, ordered(x)])) : v;
}
function assertSameValue(actual, expected, name) {
  assert.deepStrictEqual(actual, expected, name);
  assert.deepStrictEqual(ordered(actual), ordered(expected), name);
}

// The same bytes `shift` bytes into a larger buffer: offsets and alignment count from the
// message's own start.
const shifted = (bytes, shift) => Uint8Array.of(...Array(shift).fill(0xee), ...bytes, 0xee).subarray(shift, -1);

function assertRefused(decode, bytes, error, name) {
  assert.throws(() => decode(bytes), (e) => e instanceof CodecError && e.message.includes(error), name);
}

test('the shared vectors encode to their bytes and decode to their values, wherever the bytes lie', () => {
  assert.equal(vectors.maxNestingDepth, MAX_NESTING_DEPTH);
  for (const { name, value, hex: bytes, decodeOnly } of vectors.messages) {
    for (let shift = 0; shift < 8; ++shift) {
      assertSameValue(decodeMessage(shifted(fromHex(bytes), shift)), fromNotation(value), name);
    }
    if (!decodeOnly) assert.equal(hex(encodeMessage(fromNotation(value, true))), bytes, name);
  }
  for (const { name, method, args, hex: bytes } of vectors.calls) {
    assert.equal(hex(encodeMethodCall(method, fromNotation(args, true))), bytes, name);
  }
  for (const { name, success, error, hex: bytes } of vectors.envelopes) {
    const expected = error ? { kind: 'error', code: error[0], message: error[1], details: fromNotation(error[2]) }
      : { kind: 'success', result: fromNotation(success) };
    assert.deepStrictEqual(decodeEnvelope(shifted(fromHex(bytes), 3)), expected, name);
  }
  assert.deepStrictEqual([null, new Uint8Array()].map(decodeEnvelope), Array(2).fill({ kind: 'notImplemented' }));
  for (const { name, frame: [kind, id, channel, message], hex: bytes } of vectors.frames) {
    const frame = { kind, id: id < 2 ** 31 ? id : BigInt(id), channel,
      message: message === null ? null : fromHex(message) };
    assert.equal(hex(encodeFrame(frame)), bytes, name);
    assert.deepStrictEqual(decodeFrame(fromHex(bytes)), frame, name);
  }
});

test('malformed input is refused with a CodecError saying why, never a RangeError', () => {
  for (const v of vectors.malformed) assertRefused(decodeMessage, fromHex(v.hex), v.error, v.name);
  for (const v of vectors.malformedEnvelopes) assertRefused(decodeEnvelope, fromHex(v.hex), v.error, v.name);
  for (const v of vectors.malformedFrames) assertRefused(decodeFrame, fromHex(v.hex), v.error, v.name);
  // Every message cut anywhere: each read is checked against the bytes that remain.
  for (const { name, hex: bytes } of vectors.messages) {
    const whole = fromHex(bytes);
    for (let n = 0; n < whole.length; ++n) assertRefused(decodeMessage, whole.subarray(0, n), '', `${name}: ${n}`);
  }
});

test('numbers and texts take the forms the service writes, and BigInts keep every digit', () => {
  const firstByte = (value) => encodeMessage(value)[0];
  assert.deepStrictEqual([1, -(2 ** 31), 5n, -5n].map(firstByte), [3, 3, 3, 3]);
  assert.deepStrictEqual([2 ** 31, -(2 ** 31) - 1, 2 ** 53 - 1, 2n ** 63n - 1n].map(firstByte), [4, 4, 4, 4]);
  assert.deepStrictEqual([0.5, -0, 2 ** 53, NaN, Infinity, new Float64(3)].map(firstByte), [6, 6, 6, 6, 6, 6]);
  assert.equal(decodeMessage(encodeMessage(2 ** 53 - 1)), 2n ** 53n - 1n);
  // Text: lone surrogates are written as U+FFFD, long texts take the four-byte size.
  assert.equal(decodeMessage(encodeMessage('a\ud800b')), 'a\ufffdb');
  const long = 'x'.repeat(65536);
  const bytes = encodeMessage(long);
  assert.equal(hex(bytes.subarray(0, 6)), '07ff00000100');
  assert.equal(decodeMessage(bytes), long);
});

test('what the wire cannot carry is refused when encoding', () => {
  const cyclic = [];
  cyclic.push(cyclic);
  for (const value of [undefined, () => 1, Symbol('s'), new Date(0), new Set(), new Int16Array(1), new ArrayBuffer(1),
    2n ** 63n, -(2n ** 63n) - 1n, cyclic, { '\ud800': 1, '\udc00': 2 }, [undefined]]) {
    assert.throws(() => encodeMessage(value), CodecError, String(value));
  }
});

test('nesting is bounded the same way both ways, without using the call stack', () => {
  const nested = (depth) => {
    let value = null;
    for (let i = 0; i < depth; ++i) value = i % 2 ? [value] : { k: value };
    return value;
  };
  const deepest = encodeMessage(nested(MAX_NESTING_DEPTH));
  assert.equal(hex(encodeMessage(decodeMessage(deepest))), hex(deepest));
  assert.throws(() => encodeMessage(nested(MAX_NESTING_DEPTH + 1)), /nested deeper/);
  const tooDeep = new Uint8Array(2_000_000).map((_, i) => (i % 2 ? 1 : 12));  // a million lists in lists
  assertRefused(decodeMessage, tooDeep, `nested deeper than ${MAX_NESTING_DEPTH} at offset ${2 * MAX_NESTING_DEPTH}`);
});

// The golden files: the C++ encoder's bytes of each golden value, left by the C++ codec test
// that ctest runs first, which has read them back itself. The page must read them back too,
// and write the very same bytes.
const goldenDir = process.env.NIMBRA_CODEC_GOLDEN;
const withGolden = { skip: !goldenDir && 'the golden files come from ctest' };
test('the C++ encoder\'s golden bytes read back, and the page writes the same bytes', withGolden, () => {
  vectors.golden.forEach(({ name, value }, index) => {
    const bytes = new Uint8Array(readFileSync(join(goldenDir, `${index}.bin`)));
    assertSameValue(decodeMessage(bytes), fromNotation(value), name);
    assert.equal(hex(encodeMessage(fromNotation(value, true))), hex(bytes), name);
  });
});

// The console's browser-independent parts under Node: proof hash, key table, wire records.
// Run by CTest with WEBVIEWER_DIR pointing at the console's folder.

import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import path from 'node:path';
import { pathToFileURL } from 'node:url';

const Dir = process.env.WEBVIEWER_DIR;
const load = (AName) => import(pathToFileURL(path.join(Dir, AName)).href);
const { sha256Pure, proofHash, hex } = await load('sha256.js');
const { virtualKey } = await load('keys.js');
const P = await load('protocol.js');

test('the pure SHA-256 matches the reference at every padding boundary', () => {
  for (const Length of [0, 1, 55, 56, 63, 64, 65, 119, 120, 1000]) {
    const Bytes = new Uint8Array(Length).map((_, I) => (I * 31 + 7) & 0xff);
    assert.equal(hex(sha256Pure(Bytes)), createHash('sha256').update(Bytes).digest('hex'), `length ${Length}`);
  }
});

test('the proof is the hex SHA-256 of "nonce:password" in UTF-8, with and without WebCrypto', async () => {
  const Expected = createHash('sha256').update('0123456789abcdef0123456789abcdef:sênha', 'utf8').digest('hex');
  assert.equal(await proofHash('0123456789abcdef0123456789abcdef', 'sênha'), Expected);
  const Saved = Object.getOwnPropertyDescriptor(globalThis, 'isSecureContext');
  Object.defineProperty(globalThis, 'isSecureContext', { value: false, configurable: true });
  try {
    assert.equal(await proofHash('0123456789abcdef0123456789abcdef', 'sênha'), Expected);
  } finally {
    if (Saved) Object.defineProperty(globalThis, 'isSecureContext', Saved);
    else delete globalThis.isSecureContext;
  }
});

test('key codes map to Windows virtual keys', () => {
  const Cases = { KeyA: 0x41, KeyZ: 0x5a, Digit0: 0x30, Digit9: 0x39, Numpad5: 0x65, F1: 0x70,
    F12: 0x7b, Enter: 0x0d, Space: 0x20, ShiftLeft: 0xa0, ControlRight: 0xa3, AltRight: 0xa5,
    ArrowUp: 0x26, Delete: 0x2e, MetaLeft: 0x5b, Semicolon: 0xba, IntlBackslash: 0xe2, Fn: 0, F25: 0 };
  for (const [Code, Vk] of Object.entries(Cases)) assert.equal(virtualKey(Code), Vk, Code);
});

test('mouse and key records have the wire layout; pixels scale to 0..65535 like the host', () => {
  assert.deepEqual([...P.mousePacket(1, 0x1234, 0xfffe, 7, -120)], [1, 0x34, 0x12, 0xfe, 0xff, 7, 0x88, 0xff]);
  assert.deepEqual([...P.keyPacket(0xa3, true)], [0xa3, 0, 1]);
  assert.deepEqual([...P.message(P.Cmd.SelectMonitor, new Uint8Array([2]))], [0x6c, 2]);
  // Mapped back as the host does (MulDiv with width - 1), every pixel lands on itself.
  for (const Size of [1, 2, 640, 1366, 1920]) {
    for (let Pixel = 0; Pixel < Size; Pixel += Math.max(1, Size >> 6)) {
      const Wire = P.scaleToWire(Pixel, Size);
      assert.ok(Wire >= 0 && Wire <= 65535);
      if (Size > 1) assert.equal(Math.floor((Wire * (Size - 1) + 32767) / 65535), Pixel, `${Pixel}/${Size}`);
    }
  }
});

test('frames parse, and broken ones are refused', () => {
  const Jpeg = new Uint8Array([0xff, 0xd8, 0xff, 0xd9]);
  const Frame = new Uint8Array([1, 0x80, 0x07, 0x38, 0x04, 1, 0, 0, 0, 0, 0, 0x40, 0, 0x40, 0, 4, 0, 0, 0, ...Jpeg]);
  const Parsed = P.parseFrame(Frame);
  assert.deepEqual([Parsed.monitor, Parsed.width, Parsed.height, Parsed.tiles.length], [1, 1920, 1080, 1]);
  assert.deepEqual([...Parsed.tiles[0].jpeg], [...Jpeg]);
  const Broken = {
    'short header': Frame.slice(0, 6),
    'cut JPEG': Frame.slice(0, Frame.length - 1),
    'bytes left over': new Uint8Array([...Frame, 0]),
    'no tiles': new Uint8Array([0, 1, 0, 1, 0, 0, 0]),
    'tile outside': (() => { const F = Frame.slice(); F[7] = 0xc1; F[8] = 0x07; return F; })(),
  };
  for (const [Name, Bytes] of Object.entries(Broken)) assert.throws(() => P.parseFrame(Bytes), Error, Name);
});

test('a received transfer yields its files; unsafe names and overruns drop it', async () => {
  const Run = (AEntries, AOk = 1) => {
    const R = new P.TClipReceiver();
    let Note = R.handle(P.Cmd.ClipFilesBegin, P.filesBegin(9, AEntries.length, 10));
    for (const [Name, Data] of AEntries) {
      Note = R.handle(P.Cmd.ClipFileEntry, P.fileEntry(9, Data.length, false, Name)) || Note;
      if (Note) return Note;
      Note = R.handle(P.Cmd.ClipFileData, P.fileData(9, P.textBytes(Data)));
      if (Note) return Note;
    }
    return R.handle(P.Cmd.ClipFilesEnd, P.filesEnd(9, AOk));
  };
  const Done = Run([['pasta\\a.txt', 'abc'], ['b.txt', 'de']]);
  assert.deepEqual(Done.done.map((F) => F.name), ['pasta/a.txt', 'b.txt']);
  assert.equal(await Done.done[0].blob.text(), 'abc');
  for (const Name of ['..\\x', 'C:\\x', 'a\\\\b', ' a', 'a?', '/etc/passwd'])
    assert.ok(Run([[Name, 'x']]).error, Name);
  assert.ok(Run([['a', '12345678901']]).error, 'more data than announced');
  assert.ok(Run([['a', 'x']], 0).cancelled);
});

// Messages between the technician's console and the relay, and the session messages that
// the relay carries to and from the host. Every message is one binary WebSocket message:
// the number byte, then the payload. Integers are little-endian.

export const Cmd = {
  Hello: 1, Welcome: 2, SessionEnded: 6, End: 7, Refused: 10,
  ConnectHost: 50, ConnectResult: 51, RelayError: 52,
  Challenge: 100, Proof: 101, AccessResult: 102, Frame: 103, FrameAck: 104,
  Mouse: 105, Key: 106, MonitorInfo: 107, SelectMonitor: 108, BlockInput: 109, BlockState: 110,
  ClipText: 111, ClipFilesBegin: 112, ClipFileEntry: 113, ClipFileData: 114, ClipFilesEnd: 115,
  SecureAttention: 116,
};

export const MouseAction = {
  Move: 0, LeftDown: 1, LeftUp: 2, RightDown: 3, RightUp: 4, MiddleDown: 5, MiddleUp: 6, Wheel: 7,
};

export const ClipLimits = { Entries: 5000, Bytes: 200 * 1024 * 1024, Chunk: 65536 };

const Encoder = new TextEncoder();
const Decoder = new TextDecoder();

export function textBytes(AText) {
  return Encoder.encode(AText);
}

export function bytesText(ABytes) {
  return Decoder.decode(ABytes);
}

// Field AIndex (0-based) of a "|"-separated text; the third field keeps any further bars.
export function field(AText, AIndex) {
  let Start = 0;
  for (let I = 0; I < AIndex; I++) {
    const Bar = AText.indexOf('|', Start);
    if (Bar < 0) return '';
    Start = Bar + 1;
  }
  if (AIndex === 2) return AText.slice(Start);
  const End = AText.indexOf('|', Start);
  return End < 0 ? AText.slice(Start) : AText.slice(Start, End);
}

// The whole message: number byte and payload.
export function message(ACmd, APayload = new Uint8Array(0)) {
  const Out = new Uint8Array(1 + APayload.length);
  Out[0] = ACmd;
  Out.set(APayload, 1);
  return Out;
}

// Scales a pixel position on a picture of ASize pixels to 0..65535, rounding like the host,
// so that the host maps it back to the same pixel.
export function scaleToWire(APixel, ASize) {
  if (ASize <= 1) return 0;
  const Pixel = Math.min(Math.max(Math.floor(APixel), 0), ASize - 1);
  return Math.floor((Pixel * 65535 + Math.floor((ASize - 1) / 2)) / (ASize - 1));
}

export function mousePacket(AMonitor, AX, AY, AAction, AWheel = 0) {
  const Out = new Uint8Array(8);
  const View = new DataView(Out.buffer);
  View.setUint8(0, AMonitor);
  View.setUint16(1, AX, true);
  View.setUint16(3, AY, true);
  View.setUint8(5, AAction);
  View.setInt16(6, Math.max(-32768, Math.min(32767, AWheel)), true);
  return Out;
}

export function keyPacket(AVirtualKey, ADown) {
  const Out = new Uint8Array(3);
  new DataView(Out.buffer).setUint16(0, AVirtualKey, true);
  Out[2] = ADown ? 1 : 0;
  return Out;
}

// Reads a frame (message 103): the header and the tiles, each with its JPEG bytes. Throws
// with a Portuguese text when the structure is broken; nothing is drawn then.
export function parseFrame(APayload) {
  if (APayload.length < 7) throw new Error('frame truncado: cabeçalho incompleto');
  const View = new DataView(APayload.buffer, APayload.byteOffset, APayload.byteLength);
  const Frame = {
    monitor: APayload[0],
    width: View.getUint16(1, true),
    height: View.getUint16(3, true),
    tiles: [],
  };
  const Count = View.getUint16(5, true);
  if (Frame.width === 0 || Frame.height === 0) throw new Error('tela de tamanho zero');
  if (Count === 0) throw new Error('frame sem tiles');
  let Pos = 7;
  for (let I = 0; I < Count; I++) {
    if (APayload.length - Pos < 12) throw new Error(`frame truncado no tile ${I}`);
    const Tile = {
      x: View.getUint16(Pos, true),
      y: View.getUint16(Pos + 2, true),
      width: View.getUint16(Pos + 4, true),
      height: View.getUint16(Pos + 6, true),
    };
    const Length = View.getUint32(Pos + 8, true);
    Pos += 12;
    if (APayload.length - Pos < Length) throw new Error(`frame truncado no JPEG do tile ${I}`);
    if (Tile.width === 0 || Tile.height === 0 || Tile.x + Tile.width > Frame.width ||
        Tile.y + Tile.height > Frame.height)
      throw new Error(`tile ${I} fora da tela`);
    Tile.jpeg = APayload.subarray(Pos, Pos + Length);
    Pos += Length;
    Frame.tiles.push(Tile);
  }
  if (Pos !== APayload.length)
    throw new Error(`${APayload.length - Pos} bytes sobrando após o último tile`);
  return Frame;
}

function u32(AValue) {
  const Out = new Uint8Array(4);
  new DataView(Out.buffer).setUint32(0, AValue, true);
  return Out;
}

function concat(...AParts) {
  const Out = new Uint8Array(AParts.reduce((Sum, P) => Sum + P.length, 0));
  let Pos = 0;
  for (const P of AParts) {
    Out.set(P, Pos);
    Pos += P.length;
  }
  return Out;
}

export function filesBegin(AId, ACount, ATotal) {
  const Out = new Uint8Array(16);
  const View = new DataView(Out.buffer);
  View.setUint32(0, AId, true);
  View.setUint32(4, ACount, true);
  View.setBigUint64(8, BigInt(ATotal), true);
  return Out;
}

export function fileEntry(AId, ASize, AIsDir, ARelName) {
  const Head = new Uint8Array(13);
  const View = new DataView(Head.buffer);
  View.setUint32(0, AId, true);
  View.setBigInt64(4, BigInt(ASize), true);
  Head[12] = AIsDir ? 1 : 0;
  return concat(Head, textBytes(ARelName));
}

export function fileData(AId, AChunk) {
  return concat(u32(AId), AChunk);
}

export function filesEnd(AId, AOk) {
  return concat(u32(AId), new Uint8Array([AOk ? 1 : 0]));
}

// A received entry name made safe: the parts of a relative name ("\" or "/" separate them)
// joined with "/"; empty when the name is rejected (empty, over 240 UTF-16 units, an empty,
// "." or ".." part, a part beginning or ending with a blank or control character, a drive
// letter, or one of the characters " * : < > ? |).
export function safeRelativeName(AName) {
  if (AName.length === 0 || AName.length > 240 || AName.includes('\uFFFD')) return '';
  const Parts = AName.split(/[\\/]/);
  for (const Part of Parts) {
    if (Part === '' || Part === '.' || Part === '..') return '';
    if (Part.charCodeAt(0) <= 0x20 || Part.charCodeAt(Part.length - 1) <= 0x20) return '';
    for (const Char of Part) if (Char.charCodeAt(0) < 0x20 || '"*:<>?|'.includes(Char)) return '';
  }
  return Parts.join('/');
}

// Collects an incoming file transfer (112 to 115) in memory. handle() returns a note:
// {error: text} when the transfer was refused and dropped, {done: [{name, blob}]} when it
// completed, {cancelled: true} when the sender gave up, or null.
export class TClipReceiver {
  constructor() {
    this.reset();
  }

  reset() {
    this.active = false;
    this.files = [];
    this.current = null;
  }

  handle(ACmd, APayload) {
    const View = new DataView(APayload.buffer, APayload.byteOffset, APayload.byteLength);
    if (ACmd === Cmd.ClipFilesBegin) {
      this.reset();
      if (APayload.length !== 16) return { error: 'cabeçalho de transferência inválido' };
      const Count = View.getUint32(4, true);
      const Total = View.getBigUint64(8, true);
      if (Count > ClipLimits.Entries || Total > BigInt(ClipLimits.Bytes))
        return { error: 'transferência recusada: passa dos limites' };
      Object.assign(this, { active: true, id: View.getUint32(0, true), count: Count,
        total: Number(Total), entries: 0, received: 0 });
      return null;
    }
    if (!this.active || APayload.length < 5 || View.getUint32(0, true) !== this.id) return null;
    switch (ACmd) {
      case Cmd.ClipFileEntry: {
        if (APayload.length < 14) return null;
        this.closeFile();
        if (this.entries === this.count) return this.fail(`mais entradas que as ${this.count} anunciadas`);
        const Name = safeRelativeName(bytesText(APayload.subarray(13)));
        if (!Name) return this.fail('nome de arquivo inválido');
        this.entries++;
        if (APayload[12] === 0) this.current = { name: Name, parts: [] };
        return null;
      }
      case Cmd.ClipFileData:
        if (!this.current) return null;
        this.received += APayload.length - 4;
        if (this.received > this.total) return this.fail('dados além do tamanho anunciado');
        this.current.parts.push(APayload.slice(4));
        return null;
      case Cmd.ClipFilesEnd: {
        if (APayload.length !== 5) return null;
        this.closeFile();
        const Files = this.files;
        const Ok = APayload[4] !== 0 && this.entries > 0;
        this.reset();
        return Ok ? { done: Files } : { cancelled: true };
      }
      default:
        return null;
    }
  }

  closeFile() {
    if (!this.current) return;
    this.files.push({ name: this.current.name, blob: new Blob(this.current.parts) });
    this.current = null;
  }

  fail(AText) {
    this.reset();
    return { error: `transferência descartada: ${AText}` };
  }
}

// SHA-256 for the password proof. WebCrypto's digest exists only in secure contexts (https,
// localhost); a console opened over plain http on a LAN address falls back to the small
// implementation below.

const K = new Uint32Array([
  0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
  0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
  0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
  0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
  0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
  0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
  0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
  0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
]);

function hex(ABytes) {
  return Array.from(ABytes, (B) => B.toString(16).padStart(2, '0')).join('');
}

// The digest of ABytes (Uint8Array) computed in JavaScript.
export function sha256Pure(ABytes) {
  const BitLength = ABytes.length * 8;
  const Padded = new Uint8Array(((ABytes.length + 9 + 63) >> 6) << 6);
  Padded.set(ABytes);
  Padded[ABytes.length] = 0x80;
  const View = new DataView(Padded.buffer);
  View.setUint32(Padded.length - 8, Math.floor(BitLength / 0x100000000));
  View.setUint32(Padded.length - 4, BitLength >>> 0);
  const H = new Uint32Array([
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
  ]);
  const W = new Uint32Array(64);
  const Rotr = (X, N) => (X >>> N) | (X << (32 - N));
  for (let Block = 0; Block < Padded.length; Block += 64) {
    for (let I = 0; I < 16; I++) W[I] = View.getUint32(Block + I * 4);
    for (let I = 16; I < 64; I++) {
      const S0 = Rotr(W[I - 15], 7) ^ Rotr(W[I - 15], 18) ^ (W[I - 15] >>> 3);
      const S1 = Rotr(W[I - 2], 17) ^ Rotr(W[I - 2], 19) ^ (W[I - 2] >>> 10);
      W[I] = W[I - 16] + S0 + W[I - 7] + S1;
    }
    let [A, B, C, D, E, F, G, Hh] = H;
    for (let I = 0; I < 64; I++) {
      const T1 = Hh + (Rotr(E, 6) ^ Rotr(E, 11) ^ Rotr(E, 25)) + ((E & F) ^ (~E & G)) + K[I] + W[I];
      const T2 = (Rotr(A, 2) ^ Rotr(A, 13) ^ Rotr(A, 22)) + ((A & B) ^ (A & C) ^ (B & C));
      Hh = G;
      G = F;
      F = E;
      E = (D + T1) >>> 0;
      D = C;
      C = B;
      B = A;
      A = (T1 + T2) >>> 0;
    }
    H[0] += A; H[1] += B; H[2] += C; H[3] += D;
    H[4] += E; H[5] += F; H[6] += G; H[7] += Hh;
  }
  const Out = new Uint8Array(32);
  const OutView = new DataView(Out.buffer);
  H.forEach((Word, I) => OutView.setUint32(I * 4, Word));
  return Out;
}

// The answer to a challenge: lower-case hex SHA-256 of the UTF-8 text "<nonce>:<password>".
export async function proofHash(ANonce, APassword) {
  const Bytes = new TextEncoder().encode(`${ANonce}:${APassword}`);
  const Subtle = globalThis.crypto && globalThis.crypto.subtle;
  if (Subtle && globalThis.isSecureContext !== false) {
    try {
      return hex(new Uint8Array(await Subtle.digest('SHA-256', Bytes)));
    } catch (_) {
      // Some browsers expose the object but refuse to work outside a secure context.
    }
  }
  return hex(sha256Pure(Bytes));
}

export { hex };

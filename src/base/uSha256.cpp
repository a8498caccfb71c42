#include "base/uSha256.h"

#include "base/uText.h"

#include <cstring>

namespace halvora {

namespace {

constexpr std::uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t Rotr(std::uint32_t AValue, int ABits) {
  return (AValue >> ABits) | (AValue << (32 - ABits));
}

void Compress(std::uint32_t (&AState)[8], const std::uint8_t* ABlock) {
  std::uint32_t W[64];
  for (int I = 0; I < 16; ++I) {
    W[I] = std::uint32_t{ABlock[I * 4]} << 24 | std::uint32_t{ABlock[I * 4 + 1]} << 16 |
           std::uint32_t{ABlock[I * 4 + 2]} << 8 | std::uint32_t{ABlock[I * 4 + 3]};
  }
  for (int I = 16; I < 64; ++I) {
    const std::uint32_t S0 = Rotr(W[I - 15], 7) ^ Rotr(W[I - 15], 18) ^ (W[I - 15] >> 3);
    const std::uint32_t S1 = Rotr(W[I - 2], 17) ^ Rotr(W[I - 2], 19) ^ (W[I - 2] >> 10);
    W[I] = W[I - 16] + S0 + W[I - 7] + S1;
  }
  std::uint32_t A = AState[0], B = AState[1], C = AState[2], D = AState[3];
  std::uint32_t E = AState[4], F = AState[5], G = AState[6], H = AState[7];
  for (int I = 0; I < 64; ++I) {
    const std::uint32_t T1 =
        H + (Rotr(E, 6) ^ Rotr(E, 11) ^ Rotr(E, 25)) + ((E & F) ^ (~E & G)) + K[I] + W[I];
    const std::uint32_t T2 =
        (Rotr(A, 2) ^ Rotr(A, 13) ^ Rotr(A, 22)) + ((A & B) ^ (A & C) ^ (B & C));
    H = G;
    G = F;
    F = E;
    E = D + T1;
    D = C;
    C = B;
    B = A;
    A = T1 + T2;
  }
  AState[0] += A;
  AState[1] += B;
  AState[2] += C;
  AState[3] += D;
  AState[4] += E;
  AState[5] += F;
  AState[6] += G;
  AState[7] += H;
}

}  // namespace

std::array<std::uint8_t, 32> Sha256(std::string_view AData) {
  std::uint32_t State[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  const auto* Bytes = reinterpret_cast<const std::uint8_t*>(AData.data());
  std::size_t Whole = AData.size() / 64 * 64;
  for (std::size_t Offset = 0; Offset < Whole; Offset += 64) Compress(State, Bytes + Offset);

  // The rest, the 0x80 marker, zeros and the length in bits: one block or two.
  std::uint8_t Tail[128] = {};
  const std::size_t Rest = AData.size() - Whole;
  if (Rest > 0) std::memcpy(Tail, Bytes + Whole, Rest);
  Tail[Rest] = 0x80;
  const std::size_t TailSize = Rest < 56 ? 64 : 128;
  const std::uint64_t Bits = std::uint64_t{AData.size()} * 8;
  for (int I = 0; I < 8; ++I) Tail[TailSize - 1 - I] = static_cast<std::uint8_t>(Bits >> (I * 8));
  Compress(State, Tail);
  if (TailSize == 128) Compress(State, Tail + 64);

  std::array<std::uint8_t, 32> Digest;
  for (int I = 0; I < 8; ++I) {
    for (int J = 0; J < 4; ++J)
      Digest[I * 4 + J] = static_cast<std::uint8_t>(State[I] >> (24 - J * 8));
  }
  return Digest;
}

std::string Sha256Hex(std::string_view AData) {
  const auto Digest = Sha256(AData);
  return HexText(Digest.data(), Digest.size());
}

}  // namespace halvora

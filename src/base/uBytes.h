#pragma once

#include <cstdint>
#include <vector>

namespace halvora {

// Counted byte array: every message payload is one; an empty payload is an empty array.
using TIdBytes = std::vector<std::uint8_t>;

// Integers on the wire are little-endian: the low ACount bytes of AValue, least significant
// first.
inline void PutLe(std::uint8_t* ATo, std::uint64_t AValue, int ACount) {
  for (int I = 0; I < ACount; ++I) ATo[I] = static_cast<std::uint8_t>(AValue >> (8 * I));
}

inline std::uint64_t GetLe(const std::uint8_t* AFrom, int ACount) {
  std::uint64_t Value = 0;
  for (int I = ACount - 1; I >= 0; --I) Value = (Value << 8) | AFrom[I];
  return Value;
}

// Appends AValue to ABytes as ACount little-endian bytes.
inline void AppendLe(TIdBytes& ABytes, std::uint64_t AValue, int ACount) {
  ABytes.resize(ABytes.size() + ACount);
  PutLe(ABytes.data() + ABytes.size() - ACount, AValue, ACount);
}

}  // namespace halvora

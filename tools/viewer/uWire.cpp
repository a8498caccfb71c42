#include "uWire.h"

namespace halvora::viewer {

namespace {

template <class T>
void PutLe(TBytes& AOut, T AValue) {
  for (std::size_t I = 0; I < sizeof(T); ++I)
    AOut.push_back(static_cast<std::uint8_t>(AValue >> (8 * I)));
}

template <class T>
T GetLe(const std::uint8_t* AData) {
  T Value = 0;
  for (std::size_t I = 0; I < sizeof(T); ++I) Value |= static_cast<T>(AData[I]) << (8 * I);
  return Value;
}

}  // namespace

void PutU16(TBytes& AOut, std::uint16_t AValue) {
  PutLe(AOut, AValue);
}
void PutU32(TBytes& AOut, std::uint32_t AValue) {
  PutLe(AOut, AValue);
}
void PutU64(TBytes& AOut, std::uint64_t AValue) {
  PutLe(AOut, AValue);
}
std::uint16_t GetU16(const std::uint8_t* AData) {
  return GetLe<std::uint16_t>(AData);
}
std::uint32_t GetU32(const std::uint8_t* AData) {
  return GetLe<std::uint32_t>(AData);
}
std::uint64_t GetU64(const std::uint8_t* AData) {
  return GetLe<std::uint64_t>(AData);
}

TBytes TextBytes(std::string_view AText) {
  return TBytes(AText.begin(), AText.end());
}

std::string BytesText(const TBytes& ABytes, std::size_t AFrom) {
  if (AFrom >= ABytes.size()) return {};
  return std::string(ABytes.begin() + static_cast<std::ptrdiff_t>(AFrom), ABytes.end());
}

}  // namespace halvora::viewer

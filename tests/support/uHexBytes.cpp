#include "support/uHexBytes.h"

namespace halvora::test {
namespace {

int Nibble(char ADigit) {
  if (ADigit >= '0' && ADigit <= '9') return ADigit - '0';
  if (ADigit >= 'a' && ADigit <= 'f') return ADigit - 'a' + 10;
  if (ADigit >= 'A' && ADigit <= 'F') return ADigit - 'A' + 10;
  return -1;
}

}  // namespace

bool ParseHex(std::string_view AText, TIdBytes& ABytes) {
  if (AText.size() % 2 != 0) return false;
  TIdBytes Result(AText.size() / 2);
  for (std::size_t I = 0; I < Result.size(); ++I) {
    const int High = Nibble(AText[2 * I]), Low = Nibble(AText[2 * I + 1]);
    if (High < 0 || Low < 0) return false;
    Result[I] = static_cast<std::uint8_t>(High << 4 | Low);
  }
  ABytes = std::move(Result);
  return true;
}

}  // namespace halvora::test

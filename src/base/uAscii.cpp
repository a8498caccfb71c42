#include "base/uAscii.h"

#include <algorithm>
#include <charconv>

namespace halvora {

char AsciiLower(char AChar) {
  return AChar >= 'A' && AChar <= 'Z' ? static_cast<char>(AChar - 'A' + 'a') : AChar;
}

std::string AsciiLower(std::string_view AText) {
  std::string Result(AText);
  for (char& Char : Result) Char = AsciiLower(Char);
  return Result;
}

bool SameTextAscii(std::string_view ALeft, std::string_view ARight) {
  return std::ranges::equal(ALeft, ARight, {}, [](char AChar) { return AsciiLower(AChar); },
                            [](char AChar) { return AsciiLower(AChar); });
}

std::string_view TrimBlanks(std::string_view AText) {
  const auto IsBlank = [](char AChar) { return static_cast<unsigned char>(AChar) <= ' '; };
  while (!AText.empty() && IsBlank(AText.front())) AText.remove_prefix(1);
  while (!AText.empty() && IsBlank(AText.back())) AText.remove_suffix(1);
  return AText;
}

std::optional<int> ParseDecimal(std::string_view AText) {
  std::string_view Digits = AText;
  if (Digits.starts_with('+') || Digits.starts_with('-')) Digits.remove_prefix(1);
  if (Digits.empty() || !std::ranges::all_of(Digits, [](char C) { return C >= '0' && C <= '9'; }))
    return std::nullopt;
  // from_chars takes a minus sign but no plus sign.
  const std::string_view Number = AText.starts_with('+') ? Digits : AText;
  int Value = 0;
  const auto Parsed = std::from_chars(Number.data(), Number.data() + Number.size(), Value);
  if (Parsed.ec != std::errc()) return std::nullopt;
  return Value;
}

}  // namespace halvora

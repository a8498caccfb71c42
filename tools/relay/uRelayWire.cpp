#include "relay/uRelayWire.h"

namespace halvora::relay {

std::string MakeMessage(std::uint8_t ACmd, std::string_view APayload) {
  std::string Result;
  Result.reserve(APayload.size() + 1);
  Result.push_back(static_cast<char>(ACmd));
  Result.append(APayload);
  return Result;
}

std::string RemoveBlanks(std::string_view AText) {
  std::string Result;
  for (const char C : AText)
    if (C != ' ' && C != '\t' && C != '\r' && C != '\n') Result.push_back(C);
  return Result;
}

std::string Trim(std::string_view AText) {
  const auto IsBlank = [](char C) { return static_cast<unsigned char>(C) <= ' ' || C == 0x7F; };
  while (!AText.empty() && IsBlank(AText.front())) AText.remove_prefix(1);
  while (!AText.empty() && IsBlank(AText.back())) AText.remove_suffix(1);
  return std::string(AText);
}

}  // namespace halvora::relay

#include "protocol/uProtocol.h"

#include <vector>

#include "base/uRandom.h"
#include "base/uSha256.h"
#include "base/uText.h"

namespace halvora {

TIdBytes TextToBytes(std::string_view AText) {
  return TIdBytes(AText.begin(), AText.end());
}

std::string BytesToText(const TIdBytes& ABytes) {
  return SanitizeUtf8(
      std::string_view(reinterpret_cast<const char*>(ABytes.data()), ABytes.size()));
}

TIdBytes MakeBytes(const void* ABuffer, std::size_t ACount) {
  if (ACount == 0) return {};
  const auto* First = static_cast<const std::uint8_t*>(ABuffer);
  return TIdBytes(First, First + ACount);
}

TIdBytes SingleByte(std::uint8_t AValue) {
  return TIdBytes{AValue};
}

std::string HelloCliente(std::string_view AId, std::string_view AKey) {
  std::string Result = "2|C|";
  Result.append(AId);
  Result += FieldSeparator;
  Result.append(AKey);
  return Result;
}

std::string HelloAtendente(std::string_view AToken) {
  std::string Result = "2|A|";
  Result.append(AToken);
  return Result;
}

TFields SplitFields(std::string_view AText) {
  TFields Fields;
  const std::size_t FirstSep = AText.find(FieldSeparator);
  if (FirstSep == std::string_view::npos) {
    Fields.First = AText;
    return Fields;
  }
  Fields.First = AText.substr(0, FirstSep);
  const std::string_view Rest = AText.substr(FirstSep + 1);
  const std::size_t SecondSep = Rest.find(FieldSeparator);
  if (SecondSep == std::string_view::npos) {
    Fields.Second = Rest;
    return Fields;
  }
  Fields.Second = Rest.substr(0, SecondSep);
  Fields.Third = Rest.substr(SecondSep + 1);
  return Fields;
}

std::string FormatId(std::string_view AId) {
  if (Utf16Length(AId) != 9) return std::string(AId);
  const std::u16string Units = Utf8ToUtf16(AId);
  return Utf16ToUtf8(Units.substr(0, 3) + u' ' + Units.substr(3, 3) + u' ' + Units.substr(6));
}

std::string RandomString(std::string_view AAlphabet, int ACount) {
  if (ACount <= 0) return {};
  const std::u16string Alphabet = Utf8ToUtf16(AAlphabet);
  if (Alphabet.empty()) throw std::invalid_argument("RandomString: empty alphabet");

  // Four bytes per character, all drawn in one call.
  const auto Count = static_cast<std::size_t>(ACount);
  std::vector<std::uint8_t> Random(Count * 4);
  std::string Error;
  if (!SystemRandomBytes(Random.data(), Random.size(), Error)) {
    throw ERandomFailure("system random generator: " + Error);
  }

  std::u16string Result(Count, u'\0');
  for (std::size_t I = 0; I < Count; ++I) {
    const std::uint8_t* R = &Random[I * 4];
    const std::uint32_t Value = std::uint32_t{R[0]} | std::uint32_t{R[1]} << 8 |
                                std::uint32_t{R[2]} << 16 | std::uint32_t{R[3]} << 24;
    Result[I] = Alphabet[Value % Alphabet.size()];
  }
  return Utf16ToUtf8(Result);
}

std::string ProofHash(std::string_view AFirst, std::string_view ASecond) {
  std::string Input(AFirst);
  Input += ':';
  Input.append(ASecond);

  return Sha256Hex(Input);
}

}  // namespace halvora

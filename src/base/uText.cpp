#include "base/uText.h"

#include <cstdint>
#include <cstring>

namespace halvora {
namespace {

constexpr char32_t ReplacementChar = 0xFFFD;

// One decoding step: the code point (U+FFFD for an invalid subpart) and the bytes it took.
struct TDecoded {
  char32_t CodePoint;
  std::size_t Length;
  bool Valid;
};

// Index of the first non-ASCII byte at or after AFrom (AText.size() if none), 8 bytes a step.
std::size_t SkipAscii(std::string_view AText, std::size_t AFrom) {
  constexpr std::uint64_t HighBits = 0x8080808080808080ull;
  std::size_t I = AFrom;
  for (; I + 8 <= AText.size(); I += 8) {
    std::uint64_t Word;
    std::memcpy(&Word, AText.data() + I, 8);
    if (Word & HighBits) break;
  }
  while (I < AText.size() && static_cast<unsigned char>(AText[I]) < 0x80) ++I;
  return I;
}

// Decodes the sequence starting at AText[AIndex] by the well-formed byte ranges of UTF-8.
// A sequence that breaks off yields U+FFFD for the bytes that were still acceptable (the
// maximal subpart, at least one byte); decoding resumes at the offending byte.
TDecoded DecodeOne(std::string_view AText, std::size_t AIndex) {
  const auto Byte = [&](std::size_t I) { return static_cast<unsigned char>(AText[I]); };
  const unsigned char Lead = Byte(AIndex);
  if (Lead < 0x80) return {Lead, 1, true};

  std::size_t Needed;                     // continuation bytes
  unsigned char Low = 0x80, High = 0xBF;  // allowed range of the first continuation byte
  char32_t CodePoint;
  if (Lead >= 0xC2 && Lead <= 0xDF) {
    Needed = 1;
    CodePoint = Lead & 0x1F;
  } else if (Lead >= 0xE0 && Lead <= 0xEF) {
    Needed = 2;
    CodePoint = Lead & 0x0F;
    if (Lead == 0xE0) Low = 0xA0;   // overlong below U+0800
    if (Lead == 0xED) High = 0x9F;  // surrogates
  } else if (Lead >= 0xF0 && Lead <= 0xF4) {
    Needed = 3;
    CodePoint = Lead & 0x07;
    if (Lead == 0xF0) Low = 0x90;   // overlong below U+10000
    if (Lead == 0xF4) High = 0x8F;  // above U+10FFFF
  } else {
    return {ReplacementChar, 1, false};  // stray continuation byte, C0, C1 or F5..FF
  }

  for (std::size_t K = 1; K <= Needed; ++K) {
    const std::size_t I = AIndex + K;
    if (I >= AText.size() || Byte(I) < Low || Byte(I) > High) return {ReplacementChar, K, false};
    CodePoint = (CodePoint << 6) | (Byte(I) & 0x3F);
    Low = 0x80;
    High = 0xBF;
  }
  return {CodePoint, Needed + 1, true};
}

void AppendUtf8(std::string& AOut, char32_t ACodePoint) {
  if (ACodePoint < 0x80) {
    AOut += static_cast<char>(ACodePoint);
  } else if (ACodePoint < 0x800) {
    AOut += static_cast<char>(0xC0 | (ACodePoint >> 6));
    AOut += static_cast<char>(0x80 | (ACodePoint & 0x3F));
  } else if (ACodePoint < 0x10000) {
    AOut += static_cast<char>(0xE0 | (ACodePoint >> 12));
    AOut += static_cast<char>(0x80 | ((ACodePoint >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (ACodePoint & 0x3F));
  } else {
    AOut += static_cast<char>(0xF0 | (ACodePoint >> 18));
    AOut += static_cast<char>(0x80 | ((ACodePoint >> 12) & 0x3F));
    AOut += static_cast<char>(0x80 | ((ACodePoint >> 6) & 0x3F));
    AOut += static_cast<char>(0x80 | (ACodePoint & 0x3F));
  }
}

bool IsHighSurrogate(char16_t AUnit) {
  return AUnit >= 0xD800 && AUnit <= 0xDBFF;
}
bool IsLowSurrogate(char16_t AUnit) {
  return AUnit >= 0xDC00 && AUnit <= 0xDFFF;
}

}  // namespace

std::string SanitizeUtf8(std::string_view ABytes) {
  // Find the valid prefix first: for valid text (the usual case) that is the whole input.
  std::size_t I = 0;
  for (;;) {
    I = SkipAscii(ABytes, I);
    if (I == ABytes.size()) return std::string(ABytes);
    const TDecoded D = DecodeOne(ABytes, I);
    if (!D.Valid) break;
    I += D.Length;
  }

  std::string Result;
  Result.reserve(ABytes.size());
  Result.append(ABytes.substr(0, I));
  while (I < ABytes.size()) {
    const std::size_t AsciiEnd = SkipAscii(ABytes, I);
    Result.append(ABytes.substr(I, AsciiEnd - I));
    I = AsciiEnd;
    if (I == ABytes.size()) break;
    const TDecoded D = DecodeOne(ABytes, I);
    if (D.Valid) {
      Result.append(ABytes.substr(I, D.Length));
    } else {
      AppendUtf8(Result, ReplacementChar);
    }
    I += D.Length;
  }
  return Result;
}

std::u16string Utf8ToUtf16(std::string_view AUtf8) {
  std::u16string Result;
  Result.reserve(AUtf8.size());  // never more units than bytes
  std::size_t I = 0;
  while (I < AUtf8.size()) {
    const std::size_t AsciiEnd = SkipAscii(AUtf8, I);
    for (; I < AsciiEnd; ++I) Result += static_cast<char16_t>(AUtf8[I]);
    if (I == AUtf8.size()) break;
    const TDecoded D = DecodeOne(AUtf8, I);
    if (D.CodePoint >= 0x10000) {
      const char32_t V = D.CodePoint - 0x10000;
      Result += static_cast<char16_t>(0xD800 | (V >> 10));
      Result += static_cast<char16_t>(0xDC00 | (V & 0x3FF));
    } else {
      Result += static_cast<char16_t>(D.CodePoint);
    }
    I += D.Length;
  }
  return Result;
}

std::string Utf16ToUtf8(std::u16string_view AUtf16) {
  std::string Result;
  Result.reserve(AUtf16.size() * 3);
  for (std::size_t I = 0; I < AUtf16.size(); ++I) {
    const char16_t Unit = AUtf16[I];
    if (IsHighSurrogate(Unit) && I + 1 < AUtf16.size() && IsLowSurrogate(AUtf16[I + 1])) {
      const char32_t High = Unit - 0xD800, Low = AUtf16[I + 1] - 0xDC00;
      AppendUtf8(Result, 0x10000 + ((High << 10) | Low));
      ++I;
    } else if (IsHighSurrogate(Unit) || IsLowSurrogate(Unit)) {
      AppendUtf8(Result, ReplacementChar);
    } else {
      AppendUtf8(Result, Unit);
    }
  }
  return Result;
}

std::size_t Utf16Length(std::string_view AUtf8) {
  std::size_t Units = 0;
  std::size_t I = 0;
  while (I < AUtf8.size()) {
    const std::size_t AsciiEnd = SkipAscii(AUtf8, I);
    Units += AsciiEnd - I;
    I = AsciiEnd;
    if (I == AUtf8.size()) break;
    const TDecoded D = DecodeOne(AUtf8, I);
    Units += D.CodePoint >= 0x10000 ? 2 : 1;
    I += D.Length;
  }
  return Units;
}

std::string HexText(const void* AData, std::size_t ASize) {
  static constexpr char Digits[] = "0123456789abcdef";
  const auto* Bytes = static_cast<const unsigned char*>(AData);
  std::string Result;
  Result.reserve(ASize * 2);
  for (std::size_t I = 0; I < ASize; ++I) {
    Result += Digits[Bytes[I] >> 4];
    Result += Digits[Bytes[I] & 0x0F];
  }
  return Result;
}

}  // namespace halvora

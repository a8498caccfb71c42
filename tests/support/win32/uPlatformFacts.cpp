#include "support/uPlatformFacts.h"

#include "base/uText.h"
#include "support/uTestFiles.h"

namespace halvora::test {

const TExpectedNames& ExpectedNames() {
  static const TExpectedNames Names{"Halvora", "Halvora.ini", "Halvora.exe", '\\'};
  return Names;
}

// UTF-16LE with a byte-order mark and CRLF line ends, as the profile functions keep Unicode.
void WriteSettingsText(const std::string& APath, const std::string& AText) {
  std::string Bytes = "\xFF\xFE";
  for (const char16_t Unit : Utf8ToUtf16(AText)) {
    if (Unit == u'\n') Bytes += std::string("\r\0", 2);
    Bytes += static_cast<char>(Unit & 0xFF);
    Bytes += static_cast<char>(Unit >> 8);
  }
  WriteFile(APath, Bytes);
}

std::string ReadSettingsText(const std::string& APath) {
  const std::string Bytes = ReadFile(APath);
  std::string Text;
  if (Bytes.starts_with("\xFF\xFE")) {
    std::u16string Units;
    for (std::size_t I = 2; I + 1 < Bytes.size(); I += 2)
      Units += static_cast<char16_t>(static_cast<unsigned char>(Bytes[I]) |
                                     static_cast<unsigned char>(Bytes[I + 1]) << 8);
    Text = Utf16ToUtf8(Units);
  } else {
    Text = Bytes;
  }
  std::string Result;
  for (std::size_t I = 0; I < Text.size(); ++I)
    if (!(Text[I] == '\r' && I + 1 < Text.size() && Text[I + 1] == '\n')) Result += Text[I];
  return Result;
}

}  // namespace halvora::test

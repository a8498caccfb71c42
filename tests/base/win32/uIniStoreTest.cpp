// The settings file through the private-profile functions.
#include <gtest/gtest.h>

#include <string>

#include "base/uIniFile.h"
#include "base/uText.h"
#include "support/uTestFiles.h"

namespace halvora {
namespace {

using test::ReadFile;
using test::WriteFile;

// The file's bytes as UTF-16LE after its byte-order mark, in UTF-8 and without blank lines;
// "no mark" without one.
std::string Utf16FileText(const std::string& APath) {
  const std::string Bytes = ReadFile(APath);
  if (!Bytes.starts_with("\xFF\xFE")) return "no mark";
  std::u16string Units;
  for (std::size_t I = 2; I + 1 < Bytes.size(); I += 2)
    Units += static_cast<char16_t>(static_cast<unsigned char>(Bytes[I]) |
                                   static_cast<unsigned char>(Bytes[I + 1]) << 8);
  std::string Text = Utf16ToUtf8(Units);
  for (std::size_t Blank; (Blank = Text.find("\r\n\r\n")) != std::string::npos;)
    Text.erase(Blank, 2);
  return Text;
}

class TProfileStore : public ::testing::Test {
 protected:
  test::TTempFolder FFolder;
  const std::string FPath = FFolder.Path("Halvora.ini");
};

TEST_F(TProfileStore, ANewFileIsUtf16WithAByteOrderMarkAndNoControlCharacters) {
  const auto Store = OpenIniStore(FPath);
  Store->WriteString("Ser\nver", "U\trl", "wss://日本.example/relay\r\n[Evil]\x01\x1F\x7F");
  Store->WriteString("Client", "Brand", "ação \xF0\x9F\x8E\x89");
  EXPECT_EQ(Utf16FileText(FPath),
            "[Server]\r\nUrl=wss://日本.example/relay[Evil]\r\n"
            "[Client]\r\nBrand=ação \xF0\x9F\x8E\x89\r\n");
}

TEST_F(TProfileStore, AnEmptyFileCountsAsNew) {
  WriteFile(FPath, "");
  OpenIniStore(FPath)->WriteString("Client", "Brand", "ação 日本");
  EXPECT_EQ(OpenIniStore(FPath)->ReadString("Client", "Brand", "?"), "ação 日本");
  EXPECT_EQ(Utf16FileText(FPath), "[Client]\r\nBrand=ação 日本\r\n");
}

TEST_F(TProfileStore, EveryCallGoesToTheFile) {
  const auto Writer = OpenIniStore(FPath);
  const auto Reader = OpenIniStore(FPath);
  Writer->WriteString("Client", "Id", "123456789");
  EXPECT_EQ(Reader->ReadString("Client", "Id", "?"), "123456789");
  WriteFile(FPath, "[Client]\r\nId=987\r\n");
  EXPECT_EQ(Reader->ReadString("Client", "Id", "?"), "987");
}

}  // namespace
}  // namespace halvora

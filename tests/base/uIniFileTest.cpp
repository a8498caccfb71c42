#include "base/uIniFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/uTestFiles.h"

namespace halvora {
namespace {

using test::ReadFile;
using test::TTempFolder;
using test::WriteFile;

TEST(TIniFile, TextComesBackAsItWasRead) {
  const std::vector<std::string> Texts = {
      "",
      "; top comment\nLoose=1\n\n[Server]\n  URL = wss://a/relay ; not a comment\n#x\n"
      "[Other Section]\nweird key == v\n  \t\n[Server]\nPort=1\n[unclosed\n=novalue\n",
      "[a]\r\nk=1\r\n\r\n; c\r\n",
      // A stray CR in an LF file is part of its line.
      "[a]\nk=1\r\nj=2\n",
  };
  for (const std::string& Text : Texts) {
    SCOPED_TRACE("text: " + Text);
    EXPECT_EQ(TIniFile::FromText(Text).ToText(), Text);
  }
  EXPECT_EQ(TIniFile::FromText("\xEF\xBB\xBF[a]\nk=1").ToText(), "[a]\nk=1\n");
}

TEST(TIniFile, ReadsNamesInAnyCaseAndValuesWithoutBlanks) {
  const TIniFile Ini = TIniFile::FromText(
      "Url=before any section\n"
      "[ Server ]\n"
      "  URL = wss://a/relay?x=1 \t\r\n"
      "; Host=in a comment\n"
      "#Host=in a comment\n"
      "Empty=\n"
      "ApiUrl\n"
      "=nameless\n"
      "[Client]\n"
      "Id=first\n"
      "ID=second\n"
      "[other\n"
      "Key=after a line that opens no section\n"
      "[server]\n"
      "Port=81\n");
  struct TCase {
    std::string Section, Key, Expected;
  };
  const std::vector<TCase> Cases = {
      {"Server", "Url", "wss://a/relay?x=1"},
      {"SERVER", "url", "wss://a/relay?x=1"},
      {"Server", "Empty", ""},
      {"Server", "Host", "?"},
      {"Server", "ApiUrl", "?"},
      {"Client", "id", "first"},
      {"Client", "Key", "after a line that opens no section"},
      {"Server", "Port", "81"},
      {"Client", "Url", "?"},
      {"Missing", "Url", "?"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Section + "." + Case.Key);
    EXPECT_EQ(Ini.ReadString(Case.Section, Case.Key, "?"), Case.Expected);
    EXPECT_EQ(Ini.ValueExists(Case.Section, Case.Key), Case.Expected != "?");
  }
}

TEST(TIniFile, ReadsOnlyPlainDecimalIntegers) {
  const std::vector<std::pair<std::string, int>> Numbers = {
      {"42", 42}, {"+7", 7}, {"-3", -3}, {"  12 ", 12}, {"007", 7},
      {"2147483647", 2147483647}, {"-2147483648", -2147483647 - 1}};
  for (const auto& [Value, Expected] : Numbers) {
    EXPECT_EQ(TIniFile::FromText("[a]\nn=" + Value + "\n").ReadInteger("a", "n", -1), Expected)
        << Value;
  }
  const std::vector<std::string> NotNumbers = {
      "", "+", "-", "+-5", "--5", "1.5", "12a", "0x1F", "1 2", "\xD9\xA3", "2147483648"};
  for (const std::string& Value : NotNumbers) {
    EXPECT_EQ(TIniFile::FromText("[a]\nn=" + Value + "\n").ReadInteger("a", "n", 7800), 7800)
        << Value;
  }
  EXPECT_EQ(TIniFile::FromText("[a]\n").ReadInteger("a", "n", 7800), 7800);
}

struct TEditCase {
  std::string Before, Section, Key, Value, After;
};

TEST(TIniFile, WriteChangesOnlyTheKeyLine) {
  const std::vector<TEditCase> Cases = {
      // In place, keeping the name's spelling and the spacing before the value.
      {"[SERVER]\n  URL = old \nX=1\n", "Server", "Url", "new", "[SERVER]\n  URL = new\nX=1\n"},
      {"[a]\nk=\n", "a", "k", "v", "[a]\nk=v\n"},
      {"[a]\nk=1\nK=2\n", "a", "K", "3", "[a]\nk=3\nK=2\n"},
      {"[a]\nx=1\n[A]\nk=old\n", "a", "k", "v", "[a]\nx=1\n[A]\nk=v\n"},
      // A new key follows the section's last key line.
      {"[a]\nx=1\n; note\ny=2\n\n; about b\n[b]\nz=3\n", "A", "k", "v",
       "[a]\nx=1\n; note\ny=2\nk=v\n\n; about b\n[b]\nz=3\n"},
      {"[a]\n; no keys yet\n[b]\n", "a", "k", "v", "[a]\nk=v\n; no keys yet\n[b]\n"},
      {"[a]\nx=1\n[b]\n[a]\ny=2\n", "a", "k", "v", "[a]\nx=1\nk=v\n[b]\n[a]\ny=2\n"},
      {"k=1\n[a]\n", "a", "k", "v", "k=1\n[a]\nk=v\n"},
      {"[a]\r\nk=1\r\n", "a", "j", "2", "[a]\r\nk=1\r\nj=2\r\n"},
      // A new section goes at the end.
      {"", "a", "k", "v", "[a]\nk=v\n"},
      {"x=0\n[a]\nk=1", "b", "k", "v", "x=0\n[a]\nk=1\n\n[b]\nk=v\n"},
      {"[a]\nk=1\n\n", "b", "k", "v", "[a]\nk=1\n\n[b]\nk=v\n"},
  };
  for (const TEditCase& Case : Cases) {
    SCOPED_TRACE("before: " + Case.Before);
    TIniFile Ini = TIniFile::FromText(Case.Before);
    Ini.WriteString(Case.Section, Case.Key, Case.Value);
    EXPECT_EQ(Ini.ToText(), Case.After);
    EXPECT_EQ(Ini.ReadString(Case.Section, Case.Key, "?"), Case.Value);
  }
}

TEST(TIniFile, DeleteRemovesTheFirstMatchingKeyLineOnly) {
  const std::vector<TEditCase> Cases = {
      {"[a]\nk=1\nK=2\n", "A", "k", "", "[a]\nK=2\n"},
      {"[b]\nk=1\n[a]\nk=2\n", "a", "k", "", "[b]\nk=1\n[a]\n"},
      {"k=0\n[a]\nj=1\n; k=2\n", "a", "k", "", "k=0\n[a]\nj=1\n; k=2\n"},
      {"[b]\nk=1\n", "a", "k", "", "[b]\nk=1\n"},
  };
  for (const TEditCase& Case : Cases) {
    SCOPED_TRACE("before: " + Case.Before);
    TIniFile Ini = TIniFile::FromText(Case.Before);
    Ini.DeleteKey(Case.Section, Case.Key);
    EXPECT_EQ(Ini.ToText(), Case.After);
  }
}

TEST(TIniFile, WrittenTextCannotStartALine) {
  TIniFile Ini = TIniFile::FromText("[Server]\nUrl=wss://good/relay\n[Client]\nId=1\n");
  Ini.WriteString("Client", "Id", "123\n[Server]\nUrl=wss://evil.example/relay");
  Ini.WriteString("Client", "Brand", "a\r\nb\tc\x7F\x1F" + std::string(1, '\0') + "d");
  Ini.WriteString("Cli\nent", "K\rey", "v");
  EXPECT_EQ(Ini.ToText(),
            "[Server]\nUrl=wss://good/relay\n[Client]\nId=123[Server]Url=wss://evil.example/relay\n"
            "Brand=abcd\nKey=v\n");
  EXPECT_EQ(Ini.ReadString("Server", "Url", ""), "wss://good/relay");
}

TEST(TIniFile, LoadReadsAnyLineEndAndSkipsTheByteOrderMark) {
  const TTempFolder Folder;
  const std::string Path = Folder.Path("a.ini");
  WriteFile(Path, "\xEF\xBB\xBF[Server]\r\nUrl=wss://a/relay\r\nPort=81\r\n");
  TIniFile Ini;
  ASSERT_TRUE(Ini.Load(Path));
  EXPECT_EQ(Ini.ReadString("Server", "Url", ""), "wss://a/relay");
  EXPECT_EQ(Ini.ReadInteger("Server", "Port", 0), 81);
  Ini.WriteString("Server", "Url", "wss://b/relay");
  Ini.Save(Path);
  EXPECT_EQ(ReadFile(Path), "[Server]\r\nUrl=wss://b/relay\r\nPort=81\r\n");

  WriteFile(Path, "[a]\nk=1\n");
  ASSERT_TRUE(Ini.Load(Path));
  Ini.WriteString("a", "j", "2");
  Ini.Save(Path);
  EXPECT_EQ(ReadFile(Path), "[a]\nk=1\nj=2\n");
}

TEST(TIniFile, LoadOfAMissingOrUnreadableFileGivesAnEmptyFile) {
  const TTempFolder Folder;
  for (const std::string& Path : {Folder.Path("missing.ini"), Folder.Path("")}) {
    SCOPED_TRACE(Path);
    TIniFile Ini = TIniFile::FromText("[a]\nk=1\n");
    EXPECT_FALSE(Ini.Load(Path));
    EXPECT_EQ(Ini.ToText(), "");
  }
}

}  // namespace
}  // namespace halvora

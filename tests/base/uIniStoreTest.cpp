// What the settings file store promises on every platform, whoever keeps the file.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/uIniFile.h"
#include "support/uTestFiles.h"

namespace halvora {
namespace {

class TIniStore : public ::testing::Test {
 protected:
  // The store leaves making the folder to its caller.
  void SetUp() override {
    std::filesystem::create_directories(PathOf(FFolder.Path("configuração")));
  }

  // Writes AValue to a fresh store and reads it back from another one.
  std::string RoundTrip(const std::string& AValue) {
    {
      const auto Store = OpenIniStore(FPath);
      Store->WriteString("Client", "Value", AValue);
      Store->Commit(TReplaceMode::rmKeepMode);
    }
    return OpenIniStore(FPath)->ReadString("Client", "Value", "?");
  }

  test::TTempFolder FFolder;
  const std::string FPath = FFolder.Path("configuração/Halvora.ini");
};

TEST_F(TIniStore, AMissingFileReadsAsDefaults) {
  const auto Store = OpenIniStore(FPath);
  EXPECT_EQ(Store->ReadString("Server", "Url", "padrão"), "padrão");
  EXPECT_EQ(Store->ReadInteger("Server", "Port", 7800), 7800);
  EXPECT_FALSE(Store->ValueExists("Server", "Url"));
  Store->DeleteKey("Server", "Url");
  EXPECT_FALSE(Store->ValueExists("Server", "Url"));
}

TEST_F(TIniStore, ValuesComeBackAfterReopening) {
  // Outside any code page, with characters beyond the 16-bit range.
  const std::string Unicode = "Ação Ünïcödé 日本語 \xF0\x9F\x8E\x89 \xF0\x9D\x84\x9E";
  const std::vector<std::pair<std::string, std::string>> Cases = {
      {"wss://relay.example:443/relay?a=b;c#d", "wss://relay.example:443/relay?a=b;c#d"},
      {Unicode, Unicode},
      {std::string(5000, 'k'), std::string(5000, 'k')},
      {"  blanks around  ", "blanks around"},
      {"", ""},
  };
  for (const auto& [Value, Expected] : Cases) {
    SCOPED_TRACE("value: " + Value.substr(0, 60));
    EXPECT_EQ(RoundTrip(Value), Expected);
  }
}

TEST_F(TIniStore, NamesMatchInAnyCaseAndWritingReplacesTheValue) {
  {
    const auto Store = OpenIniStore(FPath);
    Store->WriteString("Server", "Url", "ws://a:1/relay");
    Store->WriteString("SERVER", "url", "ws://b:2/relay");
    Store->WriteString("client", "ID", "-42");
    Store->Commit(TReplaceMode::rmKeepMode);
  }
  const auto Store = OpenIniStore(FPath);
  EXPECT_EQ(Store->ReadString("server", "URL", "?"), "ws://b:2/relay");
  EXPECT_TRUE(Store->ValueExists("sErVeR", "uRl"));
  EXPECT_EQ(Store->ReadInteger("Client", "Id", 0), -42);
  Store->DeleteKey("SERVER", "URL");
  Store->Commit(TReplaceMode::rmKeepMode);
  EXPECT_FALSE(OpenIniStore(FPath)->ValueExists("Server", "Url"));
  EXPECT_TRUE(OpenIniStore(FPath)->ValueExists("Client", "Id"));
}

TEST_F(TIniStore, AValueCannotAddASectionOrAKey) {
  const std::string Hostile =
      "1\r\n[Server]\nUrl=wss://evil.example/relay\r\nKey=0\x01\x7F" + std::string(1, '\0') + "2";
  {
    const auto Store = OpenIniStore(FPath);
    Store->WriteString("Server", "Url", "wss://good.example/relay");
    Store->WriteString("Client", "Id", Hostile);
    Store->Commit(TReplaceMode::rmKeepMode);
  }
  const auto Store = OpenIniStore(FPath);
  EXPECT_EQ(Store->ReadString("Client", "Id", "?"), "1[Server]Url=wss://evil.example/relayKey=02");
  EXPECT_EQ(Store->ReadString("Server", "Url", "?"), "wss://good.example/relay");
  EXPECT_FALSE(Store->ValueExists("Client", "Key"));
}

TEST_F(TIniStore, AFileThatCannotBeWrittenThrowsATextNamingIt) {
  std::filesystem::create_directories(PathOf(FPath));  // a folder where the file should be
  try {
    const auto Store = OpenIniStore(FPath);
    Store->WriteString("Server", "Url", "ws://a:1/relay");
    Store->Commit(TReplaceMode::rmKeepMode);
    FAIL() << "no error";
  } catch (const std::runtime_error& Error) {
    const std::string Prefix = "erro ao gravar \"" + FPath + "\": ";
    EXPECT_TRUE(std::string(Error.what()).starts_with(Prefix)) << Error.what();
    EXPECT_GT(std::string(Error.what()).size(), Prefix.size()) << "no system error";
  }
}

}  // namespace
}  // namespace halvora

#include "install/uSettings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "brand/uMarca.h"
#include "install/uInstalacao.h"
#include "support/uFakeFolders.h"
#include "support/uTestFiles.h"

namespace halvora {
namespace {

using test::TFakeFolders;

using test::ReadFile;
using test::TTempFolder;
using test::WriteFile;

const std::string StoredKey(48, 'a');

bool IsHexKey(const std::string& AKey) {
  return AKey.size() == 48 && std::ranges::all_of(AKey, [](char C) {
           return (C >= '0' && C <= '9') || (C >= 'a' && C <= 'f');
         });
}

class TSettingsFile : public ::testing::Test {
 protected:
  TTempFolder FFolder;
  const std::string FPath = FFolder.Path("config/halvora/halvora.ini");
};

struct TLoadCase {
  std::string Name;
  std::string Before;
  std::string ProgramPath;
  std::string ServerUrl, ApiUrl, MyId, BrandCode;
  std::string After;  // the file once saved
};

TEST_F(TSettingsFile, LoadCompletesTheSettingsAndSaveKeepsTheRestOfTheFile) {
  const std::string K = StoredKey;
  const std::string Untouched =
      "; Halvora\r\n\r\n[Proxy]\r\nUse = 0\r\n\r\n[Server]\r\n# the relay\r\n"
      "Url=ws://x:1/relay\r\n\r\n[Client]\r\nId=5\r\nKey=" +
      K + "\r\nBrand=\r\nExtra= keep me \r\n";
  const std::vector<TLoadCase> Cases = {
      {"relay from the older host form, default port",
       "[Server]\nHost=10.1.2.3\n[Client]\nId=1\nKey=" + K + "\n", "", "ws://10.1.2.3:7800/relay",
       "http://10.1.2.3:7800", "1", "",
       "[Server]\nUrl=ws://10.1.2.3:7800/relay\n[Client]\nId=1\nKey=" + K + "\nBrand=\n"},
      {"relay from the older host and port",
       "[Server]\nPort=9000\nHost=relay.lan\n[Client]\nKey=" + K + "\n", "",
       "ws://relay.lan:9000/relay", "http://relay.lan:9000", "", "",
       "[Server]\nUrl=ws://relay.lan:9000/relay\n[Client]\nKey=" + K + "\nId=\nBrand=\n"},
      {"url wins over the older form, which goes",
       "[Server]\nHost=h\nUrl= wss://r.example/relay \nport=1\nPORT=2\n[Client]\nKey=" + K + "\n",
       "", "wss://r.example/relay", "https://r.example", "", "",
       "[Server]\nUrl= wss://r.example/relay\n[Client]\nKey=" + K + "\nId=\nBrand=\n"},
      {"a stored api url wins and stays as it is",
       "[Server]\nApiUrl = https://api.example/v1 \nUrl=ws://x:1/relay\n[Client]\nKey=" + K + "\n",
       "", "ws://x:1/relay", "https://api.example/v1", "", "",
       "[Server]\nApiUrl = https://api.example/v1 \nUrl=ws://x:1/relay\n[Client]\nKey=" + K +
           "\nId=\nBrand=\n"},
      {"names in any case are updated in place",
       "[SERVER]\nurl = ws://x:1/relay\n[client]\nBRAND=acme01\nkey=" + K + "\nID=42\n", "",
       "ws://x:1/relay", "http://x:1", "42", "acme01",
       "[SERVER]\nurl = ws://x:1/relay\n[client]\nBRAND=acme01\nkey=" + K + "\nID=42\n"},
      {"the program's file name brings the brand",
       "[Server]\nUrl=ws://x:1/relay\n[Client]\nId=7\nKey=" + K + "\nBrand=old001\n",
       "/x/halvora-abc123", "ws://x:1/relay", "http://x:1", "7", "abc123",
       "[Server]\nUrl=ws://x:1/relay\n[Client]\nId=7\nKey=" + K + "\nBrand=abc123\n"},
      {"a program name without a code keeps the stored brand",
       "[Server]\nUrl=ws://x:1/relay\n[Client]\nId=7\nKey=" + K + "\nBrand=old001\n",
       "/opt/halvora/halvora", "ws://x:1/relay", "http://x:1", "7", "old001",
       "[Server]\nUrl=ws://x:1/relay\n[Client]\nId=7\nKey=" + K + "\nBrand=old001\n"},
      {"everything else survives byte for byte", Untouched, "", "ws://x:1/relay", "http://x:1", "5",
       "", Untouched},
  };
  for (const TLoadCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    WriteFile(FPath, Case.Before);
    const TSettings Settings = LoadSettings(FPath, Case.ProgramPath);
    EXPECT_EQ(Settings.ServerUrl, Case.ServerUrl);
    EXPECT_EQ(Settings.ApiUrl, Case.ApiUrl);
    EXPECT_EQ(Settings.MyId, Case.MyId);
    EXPECT_EQ(Settings.BrandCode, Case.BrandCode);
    EXPECT_EQ(Settings.Key, K);
    EXPECT_EQ(ReadFile(FPath), Case.Before) << "loading wrote the file";
    SaveSettings(FPath, Settings);
    EXPECT_EQ(ReadFile(FPath), Case.After);
  }
}

TEST_F(TSettingsFile, WithoutAFileTheHostGetsTheDefaultsAndAFreshKey) {
  const TSettings Settings = LoadSettings(FPath, "");
  EXPECT_FALSE(DefaultRelayUrl().empty());
  EXPECT_EQ(Settings.ServerUrl, DefaultRelayUrl());
  EXPECT_EQ(Settings.ApiUrl, UrlApiDoServidor(DefaultRelayUrl()));
  EXPECT_EQ(Settings.MyId, "");
  EXPECT_EQ(Settings.BrandCode, "");
  EXPECT_TRUE(IsHexKey(Settings.Key)) << Settings.Key;
  EXPECT_FALSE(std::filesystem::exists(FFolder.Path("config"))) << "loading wrote the file";

  SaveSettings(FPath, Settings);
  EXPECT_EQ(ReadFile(FPath), "[Server]\nUrl=" + DefaultRelayUrl() +
                                 "\n\n[Client]\nId=\nKey=" + Settings.Key + "\nBrand=\n");
  EXPECT_EQ(LoadSettings(FPath, "").Key, Settings.Key);
}

TEST_F(TSettingsFile, AKeyShorterThan48Utf16UnitsIsReplaced) {
  std::string Clefs;  // U+1D11E takes two UTF-16 units and four bytes
  for (int I = 0; I < 24; ++I) Clefs += "\xF0\x9D\x84\x9E";
  std::string Accents;  // U+00E9 takes one UTF-16 unit and two bytes
  for (int I = 0; I < 47; ++I) Accents += "\xC3\xA9";
  const std::vector<std::pair<std::string, bool>> Cases = {
      {"", false},       {std::string(47, 'a'), false}, {Accents, false},
      {StoredKey, true}, {std::string(60, 'Z'), true},  {Clefs, true},
  };
  for (const auto& [Key, Kept] : Cases) {
    SCOPED_TRACE("key: " + Key);
    WriteFile(FPath, "[Client]\nKey=" + Key + "\n");
    const std::string Loaded = LoadSettings(FPath, "").Key;
    if (Kept) {
      EXPECT_EQ(Loaded, Key);
    } else {
      EXPECT_TRUE(IsHexKey(Loaded)) << Loaded;
    }
  }
}

TEST_F(TSettingsFile, ValuesFromTheNetworkCannotAddSectionsOrKeys) {
  WriteFile(FPath, "[Server]\nUrl=wss://good.example/relay\n[Client]\nKey=" + StoredKey + "\n");
  TSettings Settings = LoadSettings(FPath, "");
  Settings.MyId = "123\n[Server]\nUrl=wss://evil.example/relay";
  Settings.BrandCode = "abc\r\nKey=0";
  SaveSettings(FPath, Settings);
  EXPECT_EQ(ReadFile(FPath), "[Server]\nUrl=wss://good.example/relay\n[Client]\nKey=" + StoredKey +
                                 "\nId=123[Server]Url=wss://evil.example/relay\nBrand=abcKey=0\n");
  const TSettings Reloaded = LoadSettings(FPath, "");
  EXPECT_EQ(Reloaded.ServerUrl, "wss://good.example/relay");
  EXPECT_EQ(Reloaded.Key, StoredKey);
}

TEST_F(TSettingsFile, SaveToAnUnwritablePlaceThrowsAClearText) {
  // A file where the settings folder should be stops root as well.
  WriteFile(FFolder.Path("config/halvora"), "not a folder");
  const TSettings Settings{"ws://x:1/relay", "1", StoredKey, "", "http://x:1"};
  try {
    SaveSettings(FPath, Settings);
    FAIL() << "no error";
  } catch (const std::runtime_error& Error) {
    const std::string Text = SaveFailedText(Error);
    EXPECT_TRUE(
        Text.starts_with("Não foi possível salvar a configuração: erro ao criar a pasta \"" +
                         FFolder.Path("config/halvora") + "\": "))
        << Text;
    EXPECT_GT(Text.size(), SaveFailedPrefix.size() + FFolder.Path("config/halvora").size() + 30);
  }
  EXPECT_EQ(ReadFile(FFolder.Path("config/halvora")), "not a folder");
}


TEST_F(TSettingsFile, ThePathIsTheMachineFileOnlyWhileInstalled) {
  TFakeFolders Folders;
  Folders.Set(TKnownFolder::kfCommonAppData, FFolder.Path("common/"));
  Folders.Set(TKnownFolder::kfProgramFiles, FFolder.Path("programs/"));
  Folders.Set(TKnownFolder::kfUserAppData, FFolder.Path("user/"));
  const std::string UserFile = FFolder.Path("user/halvora/halvora.ini");
  const std::string MachineFile = MachineSettingsPath(Folders);

  EXPECT_EQ(SettingsPath(Folders), UserFile);
  WriteFile(MachineFile, "");
  EXPECT_EQ(SettingsPath(Folders), UserFile);
  WriteFile(InstalledExePath(Folders), "");
  EXPECT_EQ(SettingsPath(Folders), MachineFile);
  std::filesystem::remove(MachineFile);
  EXPECT_EQ(SettingsPath(Folders), UserFile);

  Folders.Set(TKnownFolder::kfUserAppData, FFolder.Path("user"));
  EXPECT_EQ(SettingsPath(Folders), UserFile);
  Folders.Set(TKnownFolder::kfUserAppData, "");
  EXPECT_EQ(SettingsPath(Folders), "halvora/halvora.ini");
}

TEST(TSettingsPaths, TheBrandFolderHoldsTheSettingsFile) {
  const std::vector<std::pair<std::string, std::string>> Cases = {
      {"/home/u/.config/halvora/halvora.ini", "/home/u/.config/halvora/"},
      {"/halvora.ini", "/"},
      {"halvora/halvora.ini", "halvora/"},
      {"halvora.ini", ""},
  };
  for (const auto& [Path, Folder] : Cases) EXPECT_EQ(BrandFolder(Path), Folder) << Path;
}

// Every character drawn over many calls, which must be exactly AAlphabet's.
void ExpectDrawsFrom(std::string (*ANew)(), std::size_t ALength, std::string_view AAlphabet) {
  std::set<char> Seen;
  std::set<std::string> Values;
  for (int I = 0; I < 300; ++I) {
    const std::string Value = ANew();
    ASSERT_EQ(Value.size(), ALength) << Value;
    Seen.insert(Value.begin(), Value.end());
    Values.insert(Value);
  }
  EXPECT_EQ(Seen, std::set<char>(AAlphabet.begin(), AAlphabet.end()));
  EXPECT_GT(Values.size(), 290u);
}

TEST(TSecrets, KeysAndPasswordsAreRandomOverTheirAlphabets) {
  ExpectDrawsFrom(NewKey, 48, "0123456789abcdef");
  ExpectDrawsFrom(NewPasswordText, 6, "abcdefghjkmnpqrstuvwxyz23456789");
}

}  // namespace
}  // namespace halvora

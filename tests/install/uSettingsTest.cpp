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
#include "install/uSettingsCases.h"
#include "support/uFakeFolders.h"
#include "support/uPlatformFacts.h"
#include "support/uTestFiles.h"

namespace halvora {
namespace {

using test::LoadCases;
using test::StoredKey;
using test::TFakeFolders;
using test::TLoadCase;

using test::ReadFile;
using test::ReadSettingsText;
using test::WriteSettingsText;
using test::TTempFolder;
using test::WriteFile;

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

TEST_F(TSettingsFile, LoadCompletesTheSettingsAndSaveKeepsTheRestOfTheFile) {
  for (const TLoadCase& Case : LoadCases()) {
    SCOPED_TRACE(Case.Name);
    WriteFile(FPath, Case.Before);
    const TSettings Settings = LoadSettings(FPath, Case.ProgramPath);
    EXPECT_EQ(Settings.ServerUrl, Case.ServerUrl);
    EXPECT_EQ(Settings.ApiUrl, Case.ApiUrl);
    EXPECT_EQ(Settings.MyId, Case.MyId);
    EXPECT_EQ(Settings.BrandCode, Case.BrandCode);
    EXPECT_EQ(Settings.Key, StoredKey);
    EXPECT_EQ(ReadFile(FPath), Case.Before) << "loading wrote the file";

    SaveSettings(FPath, Settings);
    const TSettings Reloaded = LoadSettings(FPath, "");
    EXPECT_EQ(Reloaded.ServerUrl, Settings.ServerUrl);
    EXPECT_EQ(Reloaded.ApiUrl, Settings.ApiUrl);
    EXPECT_EQ(Reloaded.MyId, Settings.MyId);
    EXPECT_EQ(Reloaded.BrandCode, Settings.BrandCode);
    EXPECT_EQ(Reloaded.Key, StoredKey);
    const auto Store = OpenIniStore(FPath);
    EXPECT_FALSE(Store->ValueExists("Server", "Host"));
    EXPECT_FALSE(Store->ValueExists("Server", "Port"));
  }
  const auto Store = OpenIniStore(FPath);  // the last case's keys of its own
  EXPECT_EQ(Store->ReadString("Proxy", "Use", "?"), "0");
  EXPECT_EQ(Store->ReadString("Client", "Extra", "?"), "keep me");
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
  const TSettings Reloaded = LoadSettings(FPath, "");
  EXPECT_EQ(Reloaded.Key, Settings.Key);
  EXPECT_EQ(Reloaded.ServerUrl, DefaultRelayUrl());
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
    WriteSettingsText(FPath, "[Client]\nKey=" + Key + "\n");
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
  EXPECT_EQ(ReadSettingsText(FPath),
            "[Server]\nUrl=wss://good.example/relay\n[Client]\nKey=" + StoredKey +
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
  const auto& Names = test::ExpectedNames();
  const std::string S(1, Names.Separator);
  TFakeFolders Folders;
  Folders.Set(TKnownFolder::kfCommonAppData, FFolder.Path("common") + S);
  Folders.Set(TKnownFolder::kfProgramFiles, FFolder.Path("programs") + S);
  Folders.Set(TKnownFolder::kfUserAppData, FFolder.Path("user") + S);
  const std::string UserFile = FFolder.Path("user") + S + Names.AppFolder + S + Names.SettingsFile;
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
  EXPECT_EQ(SettingsPath(Folders), Names.AppFolder + S + Names.SettingsFile);
}

TEST(TSettingsPaths, TheBrandFolderHoldsTheSettingsFile) {
  const std::vector<std::pair<std::string, std::string>> Cases = {
      {"/home/u/.config/halvora/halvora.ini", "/home/u/.config/halvora/"},
      {"/halvora.ini", "/"},
      {"halvora/halvora.ini", "halvora/"},
      {"halvora.ini", ""},
  };
  const auto Native = [](std::string APath) {
    std::ranges::replace(APath, '/', test::ExpectedNames().Separator);
    return APath;
  };
  for (const auto& [Path, Folder] : Cases) EXPECT_EQ(BrandFolder(Native(Path)), Native(Folder)) << Path;
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

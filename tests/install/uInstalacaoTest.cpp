#include "install/uInstalacao.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "support/uFakeFolders.h"

namespace halvora {
namespace {

using test::TFakeFolders;

namespace fs = std::filesystem;

struct TSwitchCase {
  std::vector<std::string> Args;
  std::string_view Name;
  bool Expected;
};

TEST(TLaunchSwitches, RecognisesDashOrSlashAndTheNameInAnyCase) {
  const std::vector<TSwitchCase> Cases = {
      {{"prog", "-servico"}, SwitchServico, true},
      {{"prog", "/SERVICO"}, SwitchServico, true},
      {{"prog", "/Servico"}, SwitchServico, true},
      {{"prog", "-DeSinStalar"}, SwitchDesinstalar, true},
      {{"prog", "x", "", "y", "-dev"}, SwitchDev, true},
      {{"prog", "-instalar", "-agente"}, SwitchAgente, true},
      {{"prog", "-instalar", "-agente"}, SwitchInstalar, true},
      {{"prog", "servico"}, SwitchServico, false},
      {{"prog", "--servico"}, SwitchServico, false},
      {{"prog", "-servicox"}, SwitchServico, false},
      {{"prog", "-servic"}, SwitchServico, false},
      {{"prog", "\\servico"}, SwitchServico, false},
      {{"prog", "-servico"}, SwitchInstalar, false},
      {{"prog", "-", ""}, SwitchDev, false},
      // The program path is never a switch, whatever it looks like.
      {{"-servico"}, SwitchServico, false},
      {{"/servico", "x"}, SwitchServico, false},
      {{}, SwitchServico, false},
  };
  for (const TSwitchCase& Case : Cases) {
    std::string Trace = std::string(Case.Name) + " in";
    for (const std::string& Arg : Case.Args) Trace += " [" + Arg + "]";
    SCOPED_TRACE(Trace);
    EXPECT_EQ(HasSwitchIn(Case.Args, Case.Name), Case.Expected);
  }
}

TEST(TLaunchSwitches, AgentModeIsOffWithoutTheSwitchAndStable) {
  // The tests run without -agente.
  EXPECT_FALSE(HasSwitch(SwitchAgente));
  EXPECT_FALSE(IsAgentMode());
  EXPECT_FALSE(IsAgentMode());
}

TEST(TQuoteArg, RemovesQuotesAndEnclosesTheRest) {
  const std::vector<std::pair<std::string, std::string>> Cases = {
      {"", "\"\""},
      {"abc", "\"abc\""},
      {"C:\\Program Files\\x", "\"C:\\Program Files\\x\""},
      {"a\"b", "\"ab\""},
      {"\"quoted\"", "\"quoted\""},
      {"\"\"\"", "\"\""},
      {"\xC3\xA9 \\", "\"\xC3\xA9 \\\""},
  };
  for (const auto& [Input, Expected] : Cases) {
    SCOPED_TRACE("input: " + Input);
    EXPECT_EQ(QuoteArg(Input), Expected);
  }
}


std::string Utf8(const fs::path& APath) {
  const std::u8string Text = APath.u8string();
  return std::string(Text.begin(), Text.end());
}

fs::path PathOf(const std::string& AUtf8) {
  return fs::path(std::u8string(AUtf8.begin(), AUtf8.end()));
}

class TInstallPaths : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device Random;
    do {
      FRoot = fs::temp_directory_path() / ("halvora-install-test-" + std::to_string(Random()));
    } while (!fs::create_directory(FRoot));
    FCommon = MakeFolder("common");
    FProgramFiles = MakeFolder("program files");
    FFolders.Set(TKnownFolder::kfCommonAppData, FCommon);
    FFolders.Set(TKnownFolder::kfProgramFiles, FProgramFiles);
  }
  void TearDown() override {
    std::error_code Error;
    fs::remove_all(FRoot, Error);
  }

  // A new folder under the root, as a path with a trailing separator.
  std::string MakeFolder(const std::string& AName) {
    fs::create_directories(FRoot / AName);
    return Utf8(FRoot / AName) + Names().Separator;
  }
  static void WriteFile(const std::string& APath) {
    fs::create_directories(PathOf(APath).parent_path());
    std::ofstream(PathOf(APath)) << "x";
  }
  static const TPlatformNames& Names() { return PlatformNames(); }

  fs::path FRoot;
  std::string FCommon;
  std::string FProgramFiles;
  TFakeFolders FFolders;
};

TEST_F(TInstallPaths, PathsAreBuiltFromTheFoldersAndThePlatformNames) {
  const std::string App(Names().AppFolder);
  const std::string Sep(1, Names().Separator);
  EXPECT_EQ(KnownFolderPath(TKnownFolder::kfCommonAppData, FFolders), FCommon);
  EXPECT_EQ(MachineSettingsPath(FFolders), FCommon + App + Sep + std::string(Names().SettingsFile));
  EXPECT_EQ(InstallFolder(FFolders), FProgramFiles + App + Sep);
  EXPECT_EQ(InstalledExePath(FFolders), FProgramFiles + App + Sep + std::string(Names().ExeName));
}

TEST_F(TInstallPaths, UnresolvedFolderGivesRelativePaths) {
  const TFakeFolders Empty;
  const std::string App(Names().AppFolder);
  const std::string Sep(1, Names().Separator);
  EXPECT_EQ(KnownFolderPath(TKnownFolder::kfUserAppData, Empty), "");
  EXPECT_EQ(MachineSettingsPath(Empty), App + Sep + std::string(Names().SettingsFile));
  EXPECT_EQ(InstallFolder(Empty), App + Sep);
  EXPECT_EQ(InstalledExePath(Empty), App + Sep + std::string(Names().ExeName));
}

TEST_F(TInstallPaths, InstalledOnlyWithBothFilesAsRegularFiles) {
  enum TEntry { eNone, eFile, eFolder };
  struct TCase {
    TEntry Settings;
    TEntry Exe;
    bool Expected;
  };
  const std::vector<TCase> Cases = {
      {eNone, eNone, false},   {eFile, eNone, false},  {eNone, eFile, false},
      {eFolder, eFile, false}, {eFile, eFolder, false}, {eFile, eFile, true},
  };
  const auto Make = [](TEntry AEntry, const std::string& APath) {
    if (AEntry == eFile) WriteFile(APath);
    if (AEntry == eFolder) fs::create_directories(PathOf(APath));
  };
  for (std::size_t I = 0; I < Cases.size(); ++I) {
    SCOPED_TRACE("case " + std::to_string(I));
    fs::remove_all(FRoot / "common");
    fs::remove_all(FRoot / "program files");
    Make(Cases[I].Settings, MachineSettingsPath(FFolders));
    Make(Cases[I].Exe, InstalledExePath(FFolders));
    EXPECT_EQ(IsInstalled(FFolders), Cases[I].Expected);
  }
}

TEST_F(TInstallPaths, InstalledIsEvaluatedAtEveryCall) {
  WriteFile(MachineSettingsPath(FFolders));
  EXPECT_FALSE(IsInstalled(FFolders));
  WriteFile(InstalledExePath(FFolders));
  EXPECT_TRUE(IsInstalled(FFolders));
  fs::remove(PathOf(MachineSettingsPath(FFolders)));
  EXPECT_FALSE(IsInstalled(FFolders));
}

}  // namespace
}  // namespace halvora

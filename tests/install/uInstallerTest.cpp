#include "install/uInstallerSteps.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "base/uIniFile.h"
#include "install/uInstalacao.h"
#include "install/uInstaller.h"
#include "install/uInstallerFakes.h"
#include "support/uPlatformFacts.h"

namespace halvora {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TInstallRig;
using test::WriteFile;

const std::string Key32(32, 'k');
const std::string Key31(31, 'k');

struct TSettings {
  std::string Url, Id, Key, Brand;
  bool operator==(const TSettings&) const = default;
};

std::optional<TSettings> ReadSettings(const ISystemFolders& AFolders) {
  TIniFile Ini;
  if (!Ini.Load(MachineSettingsPath(AFolders))) return std::nullopt;
  return TSettings{Ini.ReadString("Server", "Url", "?"), Ini.ReadString("Client", "Id", "?"),
                   Ini.ReadString("Client", "Key", "?"), Ini.ReadString("Client", "Brand", "?")};
}

struct TInstallCase {
  const char* Name;
  std::vector<std::string> Args;
  bool ServiceStarts;
  int ExitCode;
  std::optional<TSettings> Settings;  // what the settings file holds afterwards
};

TEST(TRunInstall, TableOfCommandLines) {
  const std::vector<TInstallCase> Cases = {
      {"all four values",
       {"p", "/instalar", "wss://r", "123", Key32, "acme"},
       true,
       0,
       TSettings{"wss://r", "123", Key32, "acme"}},
      {"switch in capitals after other arguments",
       {"p", "-x", "/INSTALAR", "u", "1", Key32, "b"},
       true,
       0,
       TSettings{"u", "1", Key32, "b"}},
      {"key of 31 characters", {"p", "/instalar", "u", "1", Key31, "b"}, true, 2, std::nullopt},
      {"no server URL", {"p", "/instalar", "", "1", Key32}, true, 2, std::nullopt},
      {"hyphen switch is not the value marker",
       {"p", "-instalar", "u", "1", Key32},
       true,
       2,
       std::nullopt},
      {"empty ID",
       {"p", "/instalar", "u", "", Key32, "b"},
       true,
       0,
       TSettings{"u", "", Key32, "b"}},
      {"three values only",
       {"p", "/instalar", "u", "1", Key32},
       true,
       0,
       TSettings{"u", "1", Key32, ""}},
      {"service manager fails",
       {"p", "/instalar", "u", "1", Key32, "b"},
       false,
       5,
       TSettings{"u", "1", Key32, "b"}},
  };
  for (const TInstallCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TInstallRig Rig;
    Rig.Services->Installs = Case.ServiceStarts;
    EXPECT_EQ(RunInstall(Case.Args, Rig.Context), Case.ExitCode);
    EXPECT_EQ(ReadSettings(Rig.Folders), Case.Settings);
    if (Case.ExitCode == 2) {
      EXPECT_FALSE(fs::exists(InstallFolder(Rig.Folders)));
      EXPECT_TRUE(Rig.Entry->Written.empty());
      continue;
    }
    const std::string Installed = InstalledExePath(Rig.Folders);
    EXPECT_EQ(ReadFile(Installed), "program");
    EXPECT_EQ(Rig.Services->InstalledExe, Installed);
    ASSERT_EQ(Rig.Entry->Written.size(), 1u);
    const TUninstallEntry& Entry = Rig.Entry->Written[0];
    EXPECT_EQ(Entry.DisplayName, "Halvora");
    EXPECT_EQ(Entry.Publisher, "Quenmir Softwares");
    EXPECT_EQ(Entry.DisplayIcon, Installed);
    EXPECT_EQ(Entry.InstallLocation, InstallFolder(Rig.Folders));
    EXPECT_EQ(Entry.UninstallArg, "/desinstalar");
    EXPECT_EQ(Rig.Policy->Calls, std::vector<bool>{true});
    EXPECT_TRUE(IsInstalled(Rig.Folders));
  }
}

TEST(TRunInstall, ExistingSettingsKeepTheirOtherKeysAndLines) {
  TInstallRig Rig;
  WriteFile(MachineSettingsPath(Rig.Folders),
            "; kept\n[Server]\nUrl=old\nPort=1\n[Client]\nId=9\nName=Ana\n[Other]\nX=1\n");
  ASSERT_EQ(RunInstall({"p", "/instalar", "new", "7", Key32}, Rig.Context), 0);
  EXPECT_EQ(ReadFile(MachineSettingsPath(Rig.Folders)),
            "; kept\n[Server]\nUrl=new\nPort=1\n[Client]\nId=7\nName=Ana\nKey=" + Key32 +
                "\nBrand=\n[Other]\nX=1\n");
}

TEST(TRunInstall, FromTheInstalledFileCopiesNothingAndDoesTheRest) {
  TInstallRig Rig;
  const std::string Installed = InstalledExePath(Rig.Folders);
  WriteFile(Installed, "installed");
  Rig.Context.ProgramPath = Installed;
  EXPECT_EQ(RunInstall({"p", "/instalar", "u", "1", Key32}, Rig.Context), 0);
  EXPECT_EQ(ReadFile(Installed), "installed");
  EXPECT_EQ(test::FolderEntries(InstallFolder(Rig.Folders)), std::vector<std::string>{test::ExpectedNames().ExeName});
  EXPECT_TRUE(ReadSettings(Rig.Folders).has_value());
  EXPECT_EQ(Rig.Services->InstalledExe, Installed);
}

TEST(TRunInstall, ReplacesAnOlderInstalledFileWhole) {
  TInstallRig Rig;
  WriteFile(InstalledExePath(Rig.Folders), "older and longer program");
  EXPECT_EQ(RunInstall({"p", "/instalar", "u", "1", Key32}, Rig.Context), 0);
  EXPECT_EQ(ReadFile(InstalledExePath(Rig.Folders)), "program");
  EXPECT_EQ(test::FolderEntries(InstallFolder(Rig.Folders)), std::vector<std::string>{test::ExpectedNames().ExeName});
}

TEST(TRunInstall, FailuresEndWithTheirCodesAndLeaveWhatWasDone) {
  {
    SCOPED_TRACE("installation folder cannot be created: 3");
    TInstallRig Rig;
    WriteFile(Rig.Folders.KnownFolderPath(TKnownFolder::kfProgramFiles) +
                  test::ExpectedNames().AppFolder,
              "a file");
    EXPECT_EQ(RunInstall({"p", "/instalar", "u", "1", Key32}, Rig.Context), 3);
    EXPECT_FALSE(ReadSettings(Rig.Folders).has_value());
  }
  {
    SCOPED_TRACE("copy fails: 4, the old file stays, no settings");
    TInstallRig Rig;
    WriteFile(InstalledExePath(Rig.Folders), "old");
    Rig.Context.ProgramPath = Rig.Source.Path("missing");
    EXPECT_EQ(RunInstall({"p", "/instalar", "u", "1", Key32}, Rig.Context), 4);
    EXPECT_EQ(ReadFile(InstalledExePath(Rig.Folders)), "old");
    EXPECT_EQ(test::FolderEntries(InstallFolder(Rig.Folders)), std::vector<std::string>{test::ExpectedNames().ExeName});
    EXPECT_FALSE(ReadSettings(Rig.Folders).has_value());
    EXPECT_TRUE(Rig.Services->InstalledExe.empty());
  }
  {
    SCOPED_TRACE("settings cannot be written: 9, the copy stays");
    TInstallRig Rig;
    fs::create_directories(MachineSettingsPath(Rig.Folders));
    EXPECT_EQ(RunInstall({"p", "/instalar", "u", "1", Key32}, Rig.Context), 9);
    EXPECT_EQ(ReadFile(InstalledExePath(Rig.Folders)), "program");
    EXPECT_TRUE(Rig.Services->InstalledExe.empty());
  }
  {
    SCOPED_TRACE("a failing policy step is ignored");
    TInstallRig Rig;
    Rig.Policy->Throws = true;
    EXPECT_EQ(RunInstall({"p", "/instalar", "u", "1", Key32}, Rig.Context), 0);
  }
}

TEST(TInstallElevated, PassesTheValuesWithoutQuotesAndSucceedsOnlyOnExitCodeZero) {
  TInstallRig Rig;
  EXPECT_TRUE(InstallElevated(Rig.Context, "wss://\"r\"", "1\"2", Key32, ""));
  ASSERT_EQ(Rig.Elevation->Calls.size(), 1u);
  EXPECT_EQ(Rig.Elevation->Calls[0],
            (std::vector<std::string>{"/instalar", "wss://r", "12", Key32, ""}));

  Rig.Elevation->ExitCode = 5;
  EXPECT_FALSE(InstallElevated(Rig.Context, "u", "1", Key32, "b"));
  Rig.Elevation->ExitCode = ElevatedStillRunning;
  EXPECT_FALSE(InstallElevated(Rig.Context, "u", "1", Key32, "b"));
  Rig.Elevation->Starts = false;
  EXPECT_FALSE(InstallElevated(Rig.Context, "u", "1", Key32, "b"));
}

// Installs into the rig, then clears the fakes' records.
void Install(TInstallRig& ARig) {
  ASSERT_EQ(RunInstall({"p", "/instalar", "u", "1", Key32}, ARig.Context), 0);
  ARig.Policy->Calls.clear();
}

TEST(TRunUninstall, RemovesEverythingAndSaysSo) {
  TInstallRig Rig;
  Install(Rig);
  EXPECT_EQ(RunUninstall(Rig.Context), 0);
  EXPECT_EQ(Rig.Dialogs.Questions, std::vector<std::string>{UninstallConfirmText});
  EXPECT_EQ(Rig.Services->Removals, 1);
  EXPECT_EQ(Rig.Sleeps, std::vector<std::uint32_t>{1500});
  EXPECT_EQ(Rig.Policy->Calls, std::vector<bool>{false});
  EXPECT_EQ(Rig.Entry->Removals, 1);
  EXPECT_FALSE(fs::exists(fs::path(MachineSettingsPath(Rig.Folders)).parent_path()));
  EXPECT_FALSE(fs::exists(InstallFolder(Rig.Folders)));
  EXPECT_EQ(Rig.Dialogs.Notices, std::vector<std::string>{UninstallDoneText});
  EXPECT_TRUE(Rig.Elevation->Calls.empty());
}

TEST(TRunUninstall, KeepsASettingsFolderThatHoldsOtherFiles) {
  TInstallRig Rig;
  Install(Rig);
  const std::string Folder = fs::path(MachineSettingsPath(Rig.Folders)).parent_path().string();
  WriteFile(Folder + "/brand-cache.ini", "x");
  EXPECT_EQ(RunUninstall(Rig.Context), 0);
  EXPECT_FALSE(fs::exists(MachineSettingsPath(Rig.Folders)));
  EXPECT_EQ(test::FolderEntries(Folder), std::vector<std::string>{"brand-cache.ini"});
}

TEST(TRunUninstall, OnAComputerWithNothingInstalledStillEndsWithZeroAndTheMessage) {
  TInstallRig Rig;
  Rig.Policy->Throws = true;
  EXPECT_EQ(RunUninstall(Rig.Context), 0);
  EXPECT_EQ(Rig.Services->Removals, 1);
  EXPECT_EQ(Rig.Dialogs.Notices, std::vector<std::string>{UninstallDoneText});
}

TEST(TRunUninstall, DeclinedChangesNothing) {
  {
    SCOPED_TRACE("the confirmation answered No");
    TInstallRig Rig;
    Install(Rig);
    Rig.Dialogs.Answer = false;
    EXPECT_EQ(RunUninstall(Rig.Context), 1);
    EXPECT_EQ(Rig.Services->Removals, 0);
    EXPECT_TRUE(IsInstalled(Rig.Folders));
    EXPECT_EQ(Rig.Entry->Removals, 0);
    EXPECT_TRUE(Rig.Dialogs.Notices.empty());
  }
  {
    SCOPED_TRACE("without rights, the elevation declined");
    TInstallRig Rig;
    Install(Rig);
    Rig.Services->Access = false;
    Rig.Elevation->Starts = false;
    EXPECT_EQ(RunUninstall(Rig.Context), 1);
    EXPECT_TRUE(Rig.Dialogs.Questions.empty());
    EXPECT_EQ(Rig.Services->Removals, 0);
    EXPECT_TRUE(IsInstalled(Rig.Folders));
  }
}

TEST(TRunUninstall, WithoutRightsEndsWithTheElevatedCopysExitCode) {
  for (const int Code : {0, 1, ElevatedStillRunning}) {
    TInstallRig Rig;
    Rig.Services->Access = false;
    Rig.Elevation->ExitCode = Code;
    EXPECT_EQ(RunUninstall(Rig.Context), Code);
    EXPECT_EQ(Rig.Elevation->Calls, std::vector<std::vector<std::string>>{{"/desinstalar"}});
    EXPECT_TRUE(Rig.Dialogs.Questions.empty());
    EXPECT_EQ(Rig.Services->Removals, 0);
  }
}

}  // namespace
}  // namespace halvora

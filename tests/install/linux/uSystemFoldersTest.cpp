#include "install/uSystemFolders.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "install/uInstalacao.h"

namespace halvora {
namespace {

TEST(TLinuxFolders, MapsTheFixedFoldersAndNames) {
  const ISystemFolders& Folders = SystemFolders();
  EXPECT_EQ(Folders.KnownFolderPath(TKnownFolder::kfCommonAppData), "/var/lib/");
  EXPECT_EQ(Folders.KnownFolderPath(TKnownFolder::kfProgramFiles), "/opt/");
  EXPECT_EQ(PlatformNames().AppFolder, "halvora");
  EXPECT_EQ(PlatformNames().SettingsFile, "halvora.ini");
  EXPECT_EQ(PlatformNames().ExeName, "halvora");
  EXPECT_EQ(PlatformNames().Separator, '/');
}

TEST(TLinuxFolders, InstallationPaths) {
  EXPECT_EQ(MachineSettingsPath(), "/var/lib/halvora/halvora.ini");
  EXPECT_EQ(InstallFolder(), "/opt/halvora/");
  EXPECT_EQ(InstalledExePath(), "/opt/halvora/halvora");
}

// Restores an environment variable when it goes out of scope.
class TEnvRestore {
 public:
  explicit TEnvRestore(const char* AName) : FName(AName) {
    if (const char* Value = std::getenv(AName)) FValue = Value;
  }
  ~TEnvRestore() {
    if (FValue) {
      setenv(FName, FValue->c_str(), 1);
    } else {
      unsetenv(FName);
    }
  }
  TEnvRestore(const TEnvRestore&) = delete;
  TEnvRestore& operator=(const TEnvRestore&) = delete;

 private:
  const char* FName;
  std::optional<std::string> FValue;
};

void SetOrUnset(const char* AName, const std::optional<std::string>& AValue) {
  if (AValue) {
    setenv(AName, AValue->c_str(), 1);
  } else {
    unsetenv(AName);
  }
}

std::string PasswdConfig() {
  const passwd* Entry = getpwuid(getuid());
  return Entry && Entry->pw_dir && *Entry->pw_dir ? std::string(Entry->pw_dir) + "/.config/" : "";
}

TEST(TLinuxFolders, UserFolderFollowsXdgConfigHomeThenHome) {
  const TEnvRestore Xdg("XDG_CONFIG_HOME");
  const TEnvRestore Home("HOME");
  struct TCase {
    std::optional<std::string> Xdg;
    std::optional<std::string> Home;
    std::string Expected;
  };
  const std::vector<TCase> Cases = {
      {"/x/conf", "/home/u", "/x/conf/"},
      {"/x/conf/", "/home/u", "/x/conf/"},
      {"relative/conf", "/home/u", "/home/u/.config/"},
      {"", "/home/u", "/home/u/.config/"},
      {std::nullopt, "/home/u", "/home/u/.config/"},
      {std::nullopt, "/home/u/", "/home/u/.config/"},
      {std::nullopt, "/", "/.config/"},
      {std::nullopt, "", PasswdConfig()},
      {std::nullopt, std::nullopt, PasswdConfig()},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE("XDG_CONFIG_HOME=" + Case.Xdg.value_or("(unset)") +
                 " HOME=" + Case.Home.value_or("(unset)"));
    SetOrUnset("XDG_CONFIG_HOME", Case.Xdg);
    SetOrUnset("HOME", Case.Home);
    EXPECT_EQ(SystemFolders().KnownFolderPath(TKnownFolder::kfUserAppData), Case.Expected);
  }
}

}  // namespace
}  // namespace halvora

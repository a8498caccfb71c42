// The modes the settings files keep on a POSIX file system.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "install/uInstalacao.h"
#include "protocol/uProtocol.h"
#include "support/uHostHarness.h"
#include "support/uTestFiles.h"

namespace halvora {
namespace {

using test::THostHarness;

const std::string StoredKey(48, 'a');

// The per-user file holds the host key: every save leaves it and the folders made for it the
// user's only, whatever mode it had. The machine-wide file keeps the mode the installer gave
// it, as the session agent reads it as another user.
TEST(HostStart, EverySaveLeavesTheUsersSettingsPrivateAndTheMachineFileAsItWas) {
  const auto ModeOf = [](const std::string& APath) {
    struct stat Info {};
    return stat(APath.c_str(), &Info) == 0 ? static_cast<int>(Info.st_mode & 07777) : -1;
  };
  struct TCase {
    const char* Name;
    bool Installed, FileBefore;
    int Mode;  // of the settings file after each save
  };
  const TCase Cases[] = {{"user file readable by all", false, true, 0600},
                         {"no user file or folder yet", false, false, 0600},
                         {"machine-wide file", true, true, 0644}};
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    THostHarness Harness;
    const std::string File =
        Case.Installed ? MachineSettingsPath(Harness.Folders) : Harness.SettingsFile();
    const std::string UserData = Harness.Folders.KnownFolderPath(TKnownFolder::kfUserAppData);
    if (Case.Installed) test::WriteFile(InstalledExePath(Harness.Folders), "");
    if (Case.FileBefore) {
      test::WriteFile(File, "[Client]\nId=1\nKey=" + StoredKey + "\n");
      ASSERT_EQ(chmod(File.c_str(), 0644), 0);
    }
    Harness.Start();
    EXPECT_EQ(ModeOf(File), Case.Mode);
    if (!Case.FileBefore) {
      EXPECT_EQ(ModeOf(UserData), 0700);
      EXPECT_EQ(ModeOf(UserData + "halvora"), 0700);
    }
    ASSERT_EQ(chmod(File.c_str(), 0644), 0);
    Harness.Host->PacketReceived(cmdWelcome, TextToBytes("123456789"));
    EXPECT_EQ(ModeOf(File), Case.Mode);
    EXPECT_NE(test::ReadFile(File).find("Id=123456789"), std::string::npos);
  }
}

}  // namespace
}  // namespace halvora

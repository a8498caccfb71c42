#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "clipboard/linux/uPosixClipFiles.h"
#include "support/uTestFiles.h"

namespace halvora {
namespace {

namespace fs = std::filesystem;

int ModeOf(const std::string& APath) {
  struct stat Info;
  return stat(APath.c_str(), &Info) == 0 ? static_cast<int>(Info.st_mode & 07777) : -1;
}

// Sets an environment variable for the life of the object.
class TEnvironment {
 public:
  TEnvironment(const char* AName, const char* AValue) : FName(AName) {
    if (const char* Old = std::getenv(AName)) FOld = Old;
    Set(AValue);
  }
  ~TEnvironment() { Set(FOld ? FOld->c_str() : nullptr); }

 private:
  void Set(const char* AValue) {
    if (AValue)
      setenv(FName, AValue, 1);
    else
      unsetenv(FName);
  }
  const char* FName;
  std::optional<std::string> FOld;
};

TEST(PosixClipFilesTest, BaseFolderIsBelowTheUsersCacheFolder) {
  struct TCase {
    const char* Xdg;
    const char* Home;
    const char* Expected;
  };
  for (const TCase& Case : {
           TCase{"/x/cache", "/home/u", "/x/cache/halvora/clipboard"},
           TCase{"/x/cache/", "/home/u", "/x/cache/halvora/clipboard"},
           TCase{"relative/cache", "/home/u", "/home/u/.cache/halvora/clipboard"},
           TCase{nullptr, "/home/u/", "/home/u/.cache/halvora/clipboard"},
       }) {
    TEnvironment Xdg("XDG_CACHE_HOME", Case.Xdg);
    TEnvironment Home("HOME", Case.Home);
    EXPECT_EQ(ClipboardBaseFolder(), Case.Expected);
  }
}

TEST(PosixClipFilesTest, PrivateFolderIsTheUsersAloneAndNeverALink) {
  test::TTempFolder Temp;
  TPosixClipFiles Files;
  const std::string Base = Temp.Path("cache/halvora/clipboard");
  Files.EnsurePrivateFolder(Base);
  for (const char* Folder : {"cache", "cache/halvora", "cache/halvora/clipboard"}) {
    EXPECT_EQ(ModeOf(Temp.Path(Folder)), 0700) << Folder;
  }
  chmod(Base.c_str(), 0755);
  Files.EnsurePrivateFolder(Base);
  EXPECT_EQ(ModeOf(Base), 0700);

  // A link in its place is refused, and what it points to is left as it was.
  const std::string Elsewhere = Temp.Path("elsewhere");
  fs::create_directories(Elsewhere);
  chmod(Elsewhere.c_str(), 0755);
  fs::remove(Base);
  fs::create_directory_symlink(Elsewhere, Base);
  EXPECT_THROW(Files.EnsurePrivateFolder(Base), EClipFailure);
  EXPECT_EQ(ModeOf(Elsewhere), 0755);
}

TEST(PosixClipFilesTest, DeleteTreeFollowsNoLink) {
  test::TTempFolder Temp;
  TPosixClipFiles Files;
  const std::string Base = Temp.Path("base");
  const std::string Kept = Temp.Path("elsewhere/keep.txt");
  test::WriteFile(Kept, "keep");
  test::WriteFile(Base + "/a/b/c.txt", "c");
  fs::create_directory_symlink(Temp.Path("elsewhere"), Base + "/a/link-to-folder");
  fs::create_symlink(Kept, Base + "/link-to-file");
  Files.DeleteTree(Base);
  EXPECT_FALSE(fs::exists(fs::symlink_status(Base)));
  EXPECT_EQ(test::ReadFile(Kept), "keep");

  // The base folder itself a link: the link goes, not what it points to.
  fs::create_directory_symlink(Temp.Path("elsewhere"), Base);
  Files.DeleteTree(Base);
  EXPECT_FALSE(fs::exists(fs::symlink_status(Base)));
  EXPECT_EQ(test::ReadFile(Kept), "keep");
}

}  // namespace
}  // namespace halvora

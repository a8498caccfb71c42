#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "app/linux/uInstanceMarker.h"
#include "support/uTestFiles.h"
#include "support/uTestLoop.h"

namespace halvora {
namespace {

class InstanceMarker : public ::testing::Test {
 protected:
  void SetUp() override {
    Folder = Temp.Path("run");
    std::filesystem::create_directory(Folder);
    chmod(Folder.c_str(), 0700);
  }
  std::unique_ptr<TInstanceMarker> Marker(const std::string& ADisplay = "_0") {
    return std::make_unique<TInstanceMarker>(Folder, ADisplay, Loop.Queue());
  }

  test::TTempFolder Temp;
  test::TTestLoop Loop;
  std::string Folder;
};

TEST_F(InstanceMarker, OneHolderPerDisplayAndLaterCopiesReachIt) {
  auto First = Marker();
  ASSERT_TRUE(First->Acquire());
  int Requests = 0;
  First->Listen([&] { ++Requests; });

  auto Second = Marker();
  EXPECT_FALSE(Second->Acquire());
  EXPECT_TRUE(Second->AskHolderToComeForward());
  EXPECT_TRUE(Loop.RunUntil([&] { return Requests == 1; }));

  EXPECT_TRUE(Marker("_1")->Acquire());  // another display runs its own copy

  First.reset();
  EXPECT_TRUE(Marker()->Acquire());
}

TEST_F(InstanceMarker, AHolderThatCrashedBlocksNothing) {
  const pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    TInstanceMarker Crashing(Folder, "_0");
    Crashing.Acquire();
    Crashing.Listen([] {});
    _exit(Crashing.AskHolderToComeForward() ? 0 : 1);  // no clean-up, as in a crash
  }
  int Status = 0;
  ASSERT_EQ(waitpid(Child, &Status, 0), Child);
  ASSERT_TRUE(WIFEXITED(Status));

  auto Next = Marker();
  ASSERT_TRUE(Next->Acquire());
  int Requests = 0;
  Next->Listen([&] { ++Requests; });  // replaces the socket the crashed holder left
  EXPECT_TRUE(Marker()->AskHolderToComeForward());
  EXPECT_TRUE(Loop.RunUntil([&] { return Requests == 1; }));
}

TEST_F(InstanceMarker, OnlyAPrivateFolderOfThisUserIsUsed) {
  EXPECT_TRUE(IsPrivateFolder(Folder));
  const std::string Open = Temp.Path("open");
  std::filesystem::create_directory(Open);
  chmod(Open.c_str(), 0755);
  EXPECT_FALSE(IsPrivateFolder(Open));
  const std::string Link = Temp.Path("link");
  std::filesystem::create_directory_symlink(Folder, Link);
  EXPECT_FALSE(IsPrivateFolder(Link));
  EXPECT_FALSE(IsPrivateFolder(Temp.Path("missing")));
  // Without a usable folder the marker cannot tell, so it never keeps a copy from starting.
  TInstanceMarker Nowhere("", "_0", Loop.Queue());
  EXPECT_TRUE(Nowhere.Acquire());
  EXPECT_FALSE(Nowhere.AskHolderToComeForward());
}

TEST(DisplayKey, IsASafeFileNamePart) {
  const char* Saved = std::getenv("DISPLAY");
  const std::string Restore = Saved ? Saved : "";
  setenv("DISPLAY", "localhost:10.0", 1);
  EXPECT_EQ(DisplayKey(), "localhost_10.0");
  setenv("DISPLAY", "../x/:1", 1);
  EXPECT_EQ(DisplayKey(), ".._x__1");
  unsetenv("DISPLAY");
  EXPECT_EQ(DisplayKey(), "nodisplay");
  if (Saved) setenv("DISPLAY", Restore.c_str(), 1);
}

}  // namespace
}  // namespace halvora

#include "base/uFiles.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/uTestFiles.h"

namespace halvora {
namespace {

using test::FolderEntries;
using test::ReadFile;
using test::TTempFolder;
using test::WriteFile;

// The error text of ReplaceFile(APath, ...), or "no error".
std::string ReplaceError(const std::string& APath, std::string_view AContent) {
  try {
    ReplaceFile(APath, AContent);
  } catch (const std::runtime_error& Error) {
    return Error.what();
  }
  return "no error";
}

mode_t ModeOf(const std::string& APath) {
  struct stat Status {};
  EXPECT_EQ(stat(APath.c_str(), &Status), 0);
  return Status.st_mode & 07777;
}

TEST(TReplaceFile, KeepsAnExistingFilesModeAndMakesANewOnePrivate) {
  const TTempFolder Folder;
  const std::string Existing = Folder.Path("existing.ini");
  WriteFile(Existing, "old");
  ASSERT_EQ(chmod(Existing.c_str(), 0640), 0);
  ReplaceFile(Existing, "new");
  EXPECT_EQ(ReadFile(Existing), "new");
  EXPECT_EQ(ModeOf(Existing), 0640u);

  const std::string Fresh = Folder.Path("fresh.ini");
  ReplaceFile(Fresh, "text");
  EXPECT_EQ(ReadFile(Fresh), "text");
  EXPECT_EQ(ModeOf(Fresh), 0600u);
  EXPECT_EQ(FolderEntries(Folder.Path("")),
            (std::vector<std::string>{"existing.ini", "fresh.ini"}));
}

TEST(TReplaceFile, OwnerOnlyMakesAnExistingFilePrivate) {
  const TTempFolder Folder;
  const std::string Path = Folder.Path("halvora.ini");
  WriteFile(Path, "old");
  ASSERT_EQ(chmod(Path.c_str(), 0644), 0);
  ReplaceFile(Path, "new", TReplaceMode::rmOwnerOnly);
  EXPECT_EQ(ReadFile(Path), "new");
  EXPECT_EQ(ModeOf(Path), 0600u);
  EXPECT_EQ(FolderEntries(Folder.Path("")), std::vector<std::string>{"halvora.ini"});
}

TEST(TReplaceFile, FailureNamesThePathAndTheSystemErrorAndLeavesNothingBehind) {
  const TTempFolder Folder;
  WriteFile(Folder.Path("taken.ini/inside"), "x");
  const std::string Taken = Folder.Path("taken.ini");
  const std::string Orphan = Folder.Path("missing/a.ini");
  EXPECT_EQ(ReplaceError(Taken, "new"), "erro ao gravar \"" + Taken + "\": Is a directory");
  EXPECT_EQ(ReplaceError(Orphan, "new"),
            "erro ao gravar \"" + Orphan + "\": No such file or directory");
  EXPECT_EQ(FolderEntries(Folder.Path("")), std::vector<std::string>{"taken.ini"});
  EXPECT_EQ(ReadFile(Folder.Path("taken.ini/inside")), "x");
}

// Limits the size of the files this process writes while it lives; writing past the limit
// then fails with EFBIG instead of raising SIGXFSZ.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(rlim_t ABytes) {
    getrlimit(RLIMIT_FSIZE, &FSaved);
    FHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit Limit = FSaved;
    Limit.rlim_cur = ABytes;
    setrlimit(RLIMIT_FSIZE, &Limit);
  }
  ~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FSaved);
    std::signal(SIGXFSZ, FHandler);
  }
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

 private:
  rlimit FSaved{};
  void (*FHandler)(int);
};

TEST(TReplaceFile, AWriteThatFailsHalfwayLeavesTheOldFile) {
  const TTempFolder Folder;
  const std::string Path = Folder.Path("a.ini");
  WriteFile(Path, "[Server]\nUrl=wss://a/relay\n");
  std::string Error;
  {
    const TFileSizeLimit Limit(10);
    Error = ReplaceError(Path, std::string(100, 'x'));
  }
  EXPECT_EQ(Error, "erro ao gravar \"" + Path + "\": File too large");
  EXPECT_EQ(ReadFile(Path), "[Server]\nUrl=wss://a/relay\n");
  EXPECT_EQ(FolderEntries(Folder.Path("")), std::vector<std::string>{"a.ini"});
}

}  // namespace
}  // namespace halvora

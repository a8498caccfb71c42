#include "install/uProcessArguments.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/uFiles.h"
#include "install/uInstalacao.h"
#include "support/uTestFiles.h"
#include "support/win32/uChildProcess.h"

namespace halvora {
namespace {

// The command line the child below is started with: it runs only the disabled test, and
// the rest is for ProcessArguments and the switches to find.
const std::vector<std::string> CHILD_ARGS = {
    "halvora probe",
    "--gtest_also_run_disabled_tests",
    "--gtest_filter=TProcessArguments.DISABLED_ChildSeesItsCommandLine",
    "",
    "a b",
    "/AGENTE",
    "-x",
    "Ação 日本 \xF0\x9F\x8E\x89",
    "diz \"olá\"",
    "C:\\pasta com espaço\\",
    "a\\\\\"b",
};

// Where the child runs from: a copy of this program under names outside any code page.
const std::string CHILD_FOLDER = "Pasta ção 日本";
const std::string CHILD_FILE = "halvora-ação \xF0\x9F\x8E\x89.exe";

std::string Utf8(const std::filesystem::path& APath) {
  const std::u8string Text = APath.u8string();
  return std::string(Text.begin(), Text.end());
}

TEST(TProcessArguments, ReadsThisProcessCommandLineAndFile) {
  const test::TTempFolder Folder;
  const std::string Copy = Folder.Path(CHILD_FOLDER + "/" + CHILD_FILE);
  std::filesystem::create_directories(PathOf(Copy).parent_path());
  std::filesystem::copy_file(PathOf(test::ThisProgram()), PathOf(Copy));
  EXPECT_EQ(test::RunProgram(Copy, CHILD_ARGS), test::ChildSucceeded)
      << "the child's checks failed";
}

// Run only as the child of the test above.
TEST(TProcessArguments, DISABLED_ChildSeesItsCommandLine) {
  EXPECT_EQ(ProcessArguments(), CHILD_ARGS);
  EXPECT_TRUE(IsAgentMode());
  EXPECT_TRUE(HasSwitch(SwitchAgente));
  EXPECT_FALSE(HasSwitch(SwitchServico));
  const std::filesystem::path Path = PathOf(ProgramFilePath());
  EXPECT_TRUE(Path.is_absolute());
  EXPECT_EQ(Utf8(Path.filename()), CHILD_FILE);
  EXPECT_EQ(Utf8(Path.parent_path().filename()), CHILD_FOLDER);
  EXPECT_TRUE(std::filesystem::is_regular_file(Path));
  test::EndChild(::testing::Test::HasFailure());
}

TEST(TProgramFilePath, IsTheFullPathOfThisTestProgram) {
  const std::filesystem::path Path = PathOf(ProgramFilePath());
  EXPECT_TRUE(Path.is_absolute());
  EXPECT_EQ(Path.filename(), "install_tests.exe");
  EXPECT_TRUE(std::filesystem::is_regular_file(Path));
}

}  // namespace
}  // namespace halvora

#include "install/uProcessArguments.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "install/uInstalacao.h"

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
};

TEST(TProcessArguments, ReadsThisProcessCommandLine) {
  std::vector<char*> Argv;
  for (const std::string& Arg : CHILD_ARGS) Argv.push_back(const_cast<char*>(Arg.c_str()));
  Argv.push_back(nullptr);
  pid_t Child = 0;
  ASSERT_EQ(posix_spawn(&Child, "/proc/self/exe", nullptr, nullptr, Argv.data(), environ), 0);
  int Status = 0;
  ASSERT_EQ(waitpid(Child, &Status, 0), Child);
  ASSERT_TRUE(WIFEXITED(Status));
  EXPECT_EQ(WEXITSTATUS(Status), 0) << "the child's checks failed";
}

// Run only as the child of the test above.
TEST(TProcessArguments, DISABLED_ChildSeesItsCommandLine) {
  EXPECT_EQ(ProcessArguments(), CHILD_ARGS);
  EXPECT_TRUE(IsAgentMode());
  EXPECT_TRUE(HasSwitch(SwitchAgente));
  EXPECT_FALSE(HasSwitch(SwitchServico));
}

TEST(TProgramFilePath, IsTheFullPathOfThisTestProgram) {
  const std::filesystem::path Path(ProgramFilePath());
  EXPECT_TRUE(Path.is_absolute());
  EXPECT_EQ(Path.filename(), "install_tests");
  EXPECT_TRUE(std::filesystem::is_regular_file(Path));
}

}  // namespace
}  // namespace halvora

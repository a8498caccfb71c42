#include <gtest/gtest.h>

#include <filesystem>

#include "install/uProcessArguments.h"

namespace halvora {
namespace {

TEST(TProgramFilePath, IsTheFullPathOfThisTestProgram) {
  const std::filesystem::path Path(ProgramFilePath());
  EXPECT_TRUE(Path.is_absolute());
  EXPECT_EQ(Path.filename(), "host_settings_tests");
  EXPECT_TRUE(std::filesystem::is_regular_file(Path));
}

}  // namespace
}  // namespace halvora

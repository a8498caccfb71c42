// The settings as text: a save changes its own lines and keeps every other byte.
#include <gtest/gtest.h>

#include "install/uSettings.h"
#include "install/uSettingsCases.h"
#include "support/uTestFiles.h"

namespace halvora {
namespace {

using test::ReadFile;
using test::WriteFile;

class TSettingsText : public ::testing::Test {
 protected:
  test::TTempFolder FFolder;
  const std::string FPath = FFolder.Path("config/halvora/halvora.ini");
};

TEST_F(TSettingsText, ASaveWritesItsOwnLinesOnly) {
  for (const test::TLoadCase& Case : test::LoadCases()) {
    SCOPED_TRACE(Case.Name);
    WriteFile(FPath, Case.Before);
    SaveSettings(FPath, LoadSettings(FPath, Case.ProgramPath));
    EXPECT_EQ(ReadFile(FPath), Case.After);
  }
}

TEST_F(TSettingsText, ANewFileHasTheServerAndTheClientSections) {
  const TSettings Settings = LoadSettings(FPath, "");
  SaveSettings(FPath, Settings);
  EXPECT_EQ(ReadFile(FPath), "[Server]\nUrl=" + DefaultRelayUrl() +
                                 "\n\n[Client]\nId=\nKey=" + Settings.Key + "\nBrand=\n");
}

}  // namespace
}  // namespace halvora

#include <gtest/gtest.h>

#include "app/uEntry.h"
#include "app/uSingleInstance.h"

namespace halvora {
namespace {

class TFakeModes final : public IEntryModes {
 public:
  void RunServiceDispatcher() override { Ran += "service "; }
  int RunInstall() override {
    Ran += "install ";
    return 3;
  }
  int RunUninstall() override {
    Ran += "uninstall ";
    return 259;
  }
  bool EnsureSingleInstance() override {
    Ran += "single ";
    return First;
  }
  int RunInteractive() override {
    Ran += "interactive ";
    return 0;
  }
  bool First = true;
  std::string Ran;
};

TEST(Entry, TheFirstSwitchInPriorityDecidesTheModeAndItsExitCode) {
  struct TCase {
    std::vector<std::string> Args;
    bool First;
    const char* Ran;
    int Code;
  };
  const TCase Cases[] = {
      {{"halvora", "/SERVICO"}, true, "service ", 0},
      {{"halvora", "-desinstalar", "-instalar", "/servico"}, true, "service ", 0},
      {{"halvora", "-Instalar", "/desinstalar"}, true, "install ", 3},
      {{"halvora", "x", "/desinstalar"}, true, "uninstall ", 259},
      {{"halvora", "servico", "--instalar"}, true, "single interactive ", 0},
      {{"halvora", "/agente"}, false, "single ", 0},
      {{"/x/-servico"}, true, "single interactive ", 0},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Ran);
    TFakeModes Modes;
    Modes.First = Case.First;
    EXPECT_EQ(RunEntry(Case.Args, Modes), Case.Code);
    EXPECT_EQ(Modes.Ran, Case.Ran);
  }
}

class TFakeMarker final : public IInstanceMarker {
 public:
  bool Acquire() override { return Free; }
  void Listen(std::function<void()>) override {}
  bool AskHolderToComeForward() override {
    ++Asked;
    return true;
  }
  bool Free = true;
  int Asked = 0;
};

TEST(SingleInstance, ALaterCopyAsksTheFirstAndExplainsOnlyWhenInstalled) {
  for (const bool Installed : {false, true}) {
    SCOPED_TRACE(Installed);
    TFakeMarker Marker;
    std::vector<std::string> Shown;
    const auto Show = [&](const std::string& AText) { Shown.push_back(AText); };
    EXPECT_TRUE(EnsureSingleInstance(Marker, Installed, Show));
    EXPECT_EQ(Marker.Asked, 0);
    Marker.Free = false;
    EXPECT_FALSE(EnsureSingleInstance(Marker, Installed, Show));
    EXPECT_EQ(Marker.Asked, 1);
    EXPECT_EQ(Shown, Installed ? std::vector<std::string>{AlreadyRunningText}
                               : std::vector<std::string>{});
  }
}

}  // namespace
}  // namespace halvora

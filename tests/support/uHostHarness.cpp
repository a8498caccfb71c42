#include "support/uHostHarness.h"

#include "install/uSettings.h"
#include "support/uPlatformFacts.h"

namespace halvora::test {

THostHarness::THostHarness() = default;

THostHarness::~THostHarness() {
  Host.reset();
}

std::string THostHarness::SettingsFile() const {
  return SettingsPath(Folders);
}

void THostHarness::WriteSettings(const std::string& AText) const {
  WriteSettingsText(SettingsFile(), AText);
}

std::string THostHarness::ReadSettings() const { return ReadSettingsText(SettingsFile()); }

TMainEnvironment THostHarness::Environment() {
  TMainEnvironment Env;
  Env.Relay = TRelayEnvironment{Relay, &Clock, &Loop.Queue()};
  Env.Folders = &Folders;
  Env.ProgramPath = "/opt/halvora/halvora";
  Env.Services = Fakes.Services();
  Env.View = &Fakes.View;
  Env.Dialogs = &Fakes.View;
  return Env;
}

void THostHarness::Start(TMainEnvironment AEnv) {
  Host = std::make_unique<TfrmMain>(std::move(AEnv));
}

void THostHarness::Start() {
  Start(Environment());
}

bool THostHarness::Deliver(std::uint8_t ACmd, std::string_view AText) {
  TIdBytes Message{ACmd};
  Message.insert(Message.end(), AText.begin(), AText.end());
  Relay->Push(std::move(Message));
  if (!Relay->WaitTaken()) return false;
  Loop.RunPending();
  return true;
}

void THostHarness::Ticks(int ACount) {
  for (int I = 0; I < ACount; ++I) {
    Clock.Advance(1000);
    Host->tmrTickTimer();
  }
}

}  // namespace halvora::test

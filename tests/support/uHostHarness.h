#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "host/uMain.h"
#include "support/uHostFakes.h"
#include "support/uScriptTransport.h"
#include "support/uTempFolders.h"
#include "support/uTestClock.h"
#include "support/uTestLoop.h"

namespace halvora::test {

// A headless host: the controller with the real relay client over a scripted or real relay,
// stand-ins for the subsystems, settings in a temporary folder and the deterministic loop.
class THostHarness {
 public:
  THostHarness();
  ~THostHarness();

  // The per-user settings file the host reads (the host is not installed).
  std::string SettingsFile() const;
  void WriteSettings(const std::string& AText) const;
  std::string ReadSettings() const;

  // Creates the controller; with a relay URL in the settings it connects there, otherwise
  // through the scripted relay.
  void Start(TMainEnvironment AEnv);
  void Start();
  TMainEnvironment Environment();

  // Delivers a message through the relay client, as the relay would, and runs what it
  // queued to the main thread; false if the client did not take it.
  [[nodiscard]] bool Deliver(std::uint8_t ACmd, std::string_view AText = {});
  // Runs the main loop until APredicate holds (false after a real-time guard).
  bool RunUntil(const std::function<bool()>& APredicate) { return Loop.RunUntil(APredicate); }
  // Runs the timer handler ACount times, a second of test time apart.
  void Ticks(int ACount);

  TTestLoop Loop;
  TTestClock Clock;
  TTempFolders Folders;
  TFakeServices Fakes;
  std::shared_ptr<TScriptRelay> Relay = std::make_shared<TScriptRelay>();
  std::unique_ptr<TfrmMain> Host;
};

}  // namespace halvora::test

#pragma once

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

#include "protocol/uProtocol.h"
#include "support/uHostHarness.h"
#include "uTestApp.h"
#include "ui/qt/uMainWindow.h"

namespace halvora::test {

// The window attached to a controller on the scripted relay. The harness goes first, as
// the controller still talks to the view while it ends.
class TWindowFixture : private TTestApp {
 public:
  explicit TWindowFixture(bool AAgent = false) {
    TMainEnvironment Env = H.Environment();
    Env.View = &View;
    Env.Dialogs = &View;
    Env.AgentMode = AAgent;
    H.Start(std::move(Env));
    View.Attach(*H.Host);
    TIdBytes Hello;
    EXPECT_TRUE(H.Relay->NextSent(Hello));
  }

  template <typename T = QWidget>
  T* Find(const char* AName) {
    T* Result = View.findChild<T*>(QString::fromLatin1(AName));
    EXPECT_NE(Result, nullptr) << AName;
    return Result;
  }
  QString Text(const char* AName) { return Find<QLabel>(AName)->text(); }
  void Click(const char* AName) { Find<QPushButton>(AName)->click(); }

  bool Sent(std::uint8_t ACmd) {
    for (const TIdBytes& Message : H.Relay->TakeSent())
      if (Message == TIdBytes{ACmd}) return true;
    return false;
  }

  TMainWindow View;
  THostHarness H;
};

inline void StartSession(THostHarness& AHost) {
  EXPECT_TRUE(AHost.Deliver(cmdTrustedAccess, "111222333|Fulano|"));
}

}  // namespace halvora::test

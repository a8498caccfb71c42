#include "install/uAgentSupervisor.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "base/uThread.h"
#include "support/uTestClock.h"

namespace halvora {
namespace {

class TFakeSessions final : public ISessionSource {
 public:
  std::string ConsoleSession() override {
    std::lock_guard<std::mutex> Lock(FLock);
    return FSession;
  }
  void Set(std::string ASession) {
    std::lock_guard<std::mutex> Lock(FLock);
    FSession = std::move(ASession);
  }

 private:
  std::mutex FLock;
  std::string FSession;
};

// Logs "start:<session>" for every start and "stop" when a known agent is ended or released.
class TFakeLauncher final : public IAgentLauncher {
 public:
  bool StartAgent(const std::string& ASession) override {
    std::lock_guard<std::mutex> Lock(FLock);
    FLog.push_back("start:" + ASession);
    if (FFailStarts) return false;
    FKnown = FRunning = true;
    return true;
  }
  bool IsAgentAlive() override {
    std::lock_guard<std::mutex> Lock(FLock);
    return FKnown && FRunning;
  }
  void StopAgent() override {
    std::lock_guard<std::mutex> Lock(FLock);
    if (FKnown) FLog.push_back("stop");
    FKnown = FRunning = false;
  }
  // The agent ends by itself.
  void End() {
    std::lock_guard<std::mutex> Lock(FLock);
    FRunning = false;
  }
  void FailStarts(bool AFail) {
    std::lock_guard<std::mutex> Lock(FLock);
    FFailStarts = AFail;
  }
  std::vector<std::string> TakeLog() {
    std::lock_guard<std::mutex> Lock(FLock);
    return std::exchange(FLog, {});
  }

 private:
  std::mutex FLock;
  bool FKnown = false;
  bool FRunning = false;
  bool FFailStarts = false;
  std::vector<std::string> FLog;
};

// One pass: the console session, what happens before it, and what the launcher sees.
struct TStep {
  std::string Console;
  enum { sNothing, sAgentEnds, sStartsFail, sStartsWork } Before;
  std::vector<std::string> Log;
  std::string AgentSession;
};

struct TSupervisionCase {
  const char* Name;
  std::vector<TStep> Steps;
};

TEST(TAgentSupervisor, PassesFollowTheConsoleSession) {
  using S = TStep;
  const std::vector<TSupervisionCase> Cases = {
      {"start, then nothing while the session stays",
       {{"1", S::sNothing, {"start:1"}, "1"}, {"1", S::sNothing, {}, "1"}}},
      {"session change moves the agent in one pass",
       {{"1", S::sNothing, {"start:1"}, "1"}, {"2", S::sNothing, {"stop", "start:2"}, "2"}}},
      {"no session: no agent, and a running one ends",
       {{"", S::sNothing, {}, ""},
        {"1", S::sNothing, {"start:1"}, "1"},
        {"", S::sNothing, {"stop"}, ""},
        {"", S::sNothing, {}, ""}}},
      {"agent ended by itself is released and started again",
       {{"1", S::sNothing, {"start:1"}, "1"}, {"1", S::sAgentEnds, {"stop", "start:1"}, "1"}}},
      {"no back-off: a failing start is tried at every pass",
       {{"1", S::sStartsFail, {"start:1"}, ""},
        {"1", S::sNothing, {"start:1"}, ""},
        {"1", S::sNothing, {"start:1"}, ""},
        {"1", S::sStartsWork, {"start:1"}, "1"}}},
  };
  for (const TSupervisionCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TFakeSessions Sessions;
    TFakeLauncher Launcher;
    test::TTestClock Clock;
    TAgentSupervisor Supervisor(Sessions, Launcher, Clock);
    for (std::size_t I = 0; I < Case.Steps.size(); ++I) {
      SCOPED_TRACE("pass " + std::to_string(I));
      const TStep& Step = Case.Steps[I];
      if (Step.Before == S::sAgentEnds) Launcher.End();
      if (Step.Before == S::sStartsFail) Launcher.FailStarts(true);
      if (Step.Before == S::sStartsWork) Launcher.FailStarts(false);
      Sessions.Set(Step.Console);
      Supervisor.Pass();
      EXPECT_EQ(Launcher.TakeLog(), Step.Log);
      EXPECT_EQ(Supervisor.AgentSession(), Step.AgentSession);
    }
  }
}

class TRunThread final : public TThread {
 public:
  TRunThread(TAgentSupervisor& ASupervisor, TEvent& AStop)
      : FSupervisor(ASupervisor), FStop(AStop) {}
  ~TRunThread() override { StopThread(); }

 protected:
  void Execute() override { FSupervisor.Run(FStop); }

 private:
  TAgentSupervisor& FSupervisor;
  TEvent& FStop;
};

TEST(TAgentSupervisor, RunPassesEveryTwoSecondsAndEndsTheAgentOnStop) {
  TFakeSessions Sessions;
  TFakeLauncher Launcher;
  test::TTestClock Clock;
  TAgentSupervisor Supervisor(Sessions, Launcher, Clock);
  TEvent Stop(true, false);
  Sessions.Set("1");
  TRunThread Thread(Supervisor, Stop);
  Thread.Start();

  ASSERT_TRUE(Clock.WaitForWaits(1));
  EXPECT_EQ(Launcher.TakeLog(), std::vector<std::string>{"start:1"});
  Sessions.Set("2");
  Clock.Advance(SupervisionIntervalMs - 1);
  ASSERT_TRUE(Clock.WaitForWaiters(1));
  EXPECT_TRUE(Launcher.TakeLog().empty());  // not yet
  Clock.Advance(1);
  ASSERT_TRUE(Clock.WaitForWaits(2));
  EXPECT_EQ(Launcher.TakeLog(), (std::vector<std::string>{"stop", "start:2"}));

  Stop.SetEvent();
  Thread.WaitFor();
  EXPECT_EQ(Launcher.TakeLog(), std::vector<std::string>{"stop"});
  EXPECT_EQ(Supervisor.AgentSession(), "");
  for (const std::uint32_t Wait : Clock.Waits()) EXPECT_EQ(Wait, SupervisionIntervalMs);
}

}  // namespace
}  // namespace halvora

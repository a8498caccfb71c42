#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "input/uInputBlocker.h"

namespace halvora {
namespace {

bool Wait(TEvent& AEvent) { return AEvent.WaitWhileNot([] { return false; }); }

// How the fake block behaves and what it went through. The block thread's calls are logged in
// order with the thread they came on; Stop, which may come from any thread, is only counted.
struct TScript {
  enum TFailure { fNone, fFactoryThrows, fFactoryNull, fInstallFalse, fInstallThrows };
  TFailure Failure = fNone;
  TEvent* InstallGate = nullptr;  // when set, Install waits for it
  TEvent InstallEntered{true, false};

  std::mutex Lock;
  std::vector<std::string> Calls;
  std::vector<std::thread::id> Threads;
  std::atomic<int> Stops{0};
  std::atomic<int> Alive{0};

  void Add(const std::string& ACall) {
    std::lock_guard Guard(Lock);
    Calls.push_back(ACall);
    Threads.push_back(std::this_thread::get_id());
  }
  std::vector<std::string> Log() {
    std::lock_guard Guard(Lock);
    return Calls;
  }
  // Every call came on one thread, and not on the caller's.
  bool OnOneOtherThread() {
    std::lock_guard Guard(Lock);
    for (const std::thread::id& Id : Threads)
      if (Id != Threads.front() || Id == std::this_thread::get_id()) return false;
    return true;
  }
};

class TFakeBlock final : public IInputBlock {
 public:
  explicit TFakeBlock(TScript& AScript) : FScript(AScript) {
    ++FScript.Alive;
    FScript.Add("make");
  }
  ~TFakeBlock() override {
    FScript.Add("free");
    --FScript.Alive;
  }

  bool Install() override {
    FScript.Add("install");
    FScript.InstallEntered.SetEvent();
    if (FScript.InstallGate) Wait(*FScript.InstallGate);
    if (FScript.Failure == TScript::fInstallThrows) throw std::runtime_error("install");
    return FScript.Failure != TScript::fInstallFalse;
  }
  void Run() override {
    FScript.Add("run");
    Wait(FStopped);
  }
  void Stop() override {
    ++FScript.Stops;
    FStopped.SetEvent();
  }
  void Remove() override { FScript.Add("remove"); }

 private:
  TScript& FScript;
  TEvent FStopped{true, false};
};

TInputBlockFactory FakeFactory(TScript& AScript) {
  return [&AScript]() -> std::unique_ptr<IInputBlock> {
    if (AScript.Failure == TScript::fFactoryThrows) throw std::runtime_error("no display");
    if (AScript.Failure == TScript::fFactoryNull) return nullptr;
    return std::make_unique<TFakeBlock>(AScript);
  };
}

using TLog = std::vector<std::string>;
const TLog cOnOff{"make", "install", "run", "remove", "free"};

TEST(InputBlocker, SwitchesOnOffAndOnAgainOnTheBlockThread) {
  TScript Script;
  TInputBlocker Blocker(FakeFactory(Script));
  EXPECT_FALSE(Blocker.Active());

  Blocker.SetActive(true);
  EXPECT_TRUE(Blocker.Active());
  EXPECT_EQ(Script.Alive, 1);
  const TLog Started = Script.Log();
  ASSERT_GE(Started.size(), 2u);
  EXPECT_EQ(TLog(Started.begin(), Started.begin() + 2), (TLog{"make", "install"}));

  Blocker.SetActive(false);
  EXPECT_FALSE(Blocker.Active());
  EXPECT_EQ(Script.Log(), cOnOff);  // removed and freed before the switch returned
  EXPECT_EQ(Script.Stops, 1);
  EXPECT_EQ(Script.Alive, 0);
  EXPECT_TRUE(Script.OnOneOtherThread());

  Blocker.SetActive(true);
  EXPECT_TRUE(Blocker.Active());
  Blocker.SetActive(false);
  TLog Twice = cOnOff;
  Twice.insert(Twice.end(), cOnOff.begin(), cOnOff.end());
  EXPECT_EQ(Script.Log(), Twice);
  EXPECT_EQ(Script.Stops, 2);
}

TEST(InputBlocker, WritingTheCurrentStateDoesNothing) {
  TScript Script;
  TInputBlocker Blocker(FakeFactory(Script));
  Blocker.SetActive(false);
  EXPECT_TRUE(Script.Log().empty());

  Blocker.SetActive(true);
  Blocker.SetActive(true);
  EXPECT_TRUE(Blocker.Active());
  EXPECT_EQ(Script.Alive, 1);
  EXPECT_EQ(Script.Stops, 0);

  Blocker.SetActive(false);
  Blocker.SetActive(false);
  EXPECT_EQ(Script.Log(), cOnOff);
  EXPECT_EQ(Script.Stops, 1);
}

TEST(InputBlocker, FailedInstallationLeavesBlockingOffAndNoThread) {
  const struct {
    TScript::TFailure Failure;
    TLog Log;
  } Cases[] = {
      {TScript::fInstallFalse, {"make", "install", "remove", "free"}},
      {TScript::fInstallThrows, {"make", "install", "remove", "free"}},
      {TScript::fFactoryThrows, {}},
      {TScript::fFactoryNull, {}},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Failure);
    TScript Script;
    Script.Failure = Case.Failure;
    TInputBlocker Blocker(FakeFactory(Script));
    Blocker.SetActive(true);
    EXPECT_FALSE(Blocker.Active());
    // The block thread has ended: whatever it made is removed and freed, Run never started.
    EXPECT_EQ(Script.Log(), Case.Log);
    EXPECT_EQ(Script.Alive, 0);

    // The next request tries again.
    Script.Failure = TScript::fNone;
    Blocker.SetActive(true);
    EXPECT_TRUE(Blocker.Active());
  }
}

TEST(InputBlocker, DestroyingWhileActiveRemovesTheBlock) {
  TScript Script;
  {
    TInputBlocker Blocker(FakeFactory(Script));
    Blocker.SetActive(true);
  }
  EXPECT_EQ(Script.Log(), cOnOff);
  EXPECT_EQ(Script.Stops, 1);
  EXPECT_EQ(Script.Alive, 0);
}

TEST(InputBlocker, SwitchingOnReturnsOnlyOnceTheBlockIsInstalled) {
  TScript Script;
  TEvent Gate(true, false);
  Script.InstallGate = &Gate;
  std::atomic<bool> Opened{false};
  std::thread Opener([&] {
    Wait(Script.InstallEntered);
    Opened = true;
    Gate.SetEvent();
  });
  TInputBlocker Blocker(FakeFactory(Script));
  Blocker.SetActive(true);
  EXPECT_TRUE(Opened);
  EXPECT_TRUE(Blocker.Active());
  Opener.join();
}

TEST(BlockThread, StopBeforeTheInstallationIsKnownSkipsTheRunButRemovesTheBlock) {
  TScript Script;
  TEvent Gate(true, false);
  Script.InstallGate = &Gate;
  {
    TBlockThread Thread(FakeFactory(Script));
    ASSERT_TRUE(Wait(Script.InstallEntered));
    Thread.Stop();
    Gate.SetEvent();
    EXPECT_TRUE(Thread.WaitInstalled());
  }
  EXPECT_EQ(Script.Log(), (TLog{"make", "install", "remove", "free"}));
}

}  // namespace
}  // namespace halvora

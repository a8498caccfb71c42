#include "ui/win32/uWin32MainLoop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "base/uMainQueue.h"

namespace halvora {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

// Quits the loop with -1 when the test has not ended it within 30 s: a guard against hangs.
class TWatchdog {
 public:
  explicit TWatchdog(TWin32MainLoop& ALoop)
      : FThread([this, &ALoop] {
          std::unique_lock Guard(FLock);
          if (!FChanged.wait_for(Guard, 30s, [this] { return FDone; })) ALoop.Quit(-1);
        }) {}
  ~TWatchdog() {
    {
      std::lock_guard Guard(FLock);
      FDone = true;
    }
    FChanged.notify_all();
    FThread.join();
  }
  TWatchdog(const TWatchdog&) = delete;
  TWatchdog& operator=(const TWatchdog&) = delete;

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  bool FDone = false;
  std::thread FThread;
};

class TWin32MainLoopTest : public ::testing::Test {
 protected:
  TMainQueue FQueue;
  TWin32MainLoop FLoop{FQueue};
  TWatchdog FWatchdog{FLoop};
  const std::thread::id FLoopThread = std::this_thread::get_id();
  const int FTag = 0;
};

TEST_F(TWin32MainLoopTest, RunsEveryPostOnItsThreadInOrderBeforeAQuitFromAnotherThread) {
  EXPECT_TRUE(FQueue.IsMainThread());
  std::vector<int> Ran;
  bool Elsewhere = false;
  std::thread Worker([&] {
    for (int I = 0; I < 1000; ++I)
      FQueue.Post(&FTag, [&, I] {
        Ran.push_back(I);
        Elsewhere |= std::this_thread::get_id() != FLoopThread;
      });
    FLoop.Quit(7);
  });
  EXPECT_EQ(FLoop.Run(nullptr), 7);
  Worker.join();
  ASSERT_EQ(Ran.size(), 1000u);
  for (int I = 0; I < 1000; ++I) ASSERT_EQ(Ran[I], I);
  EXPECT_FALSE(Elsewhere);
}

TEST_F(TWin32MainLoopTest, APostMadeWhileADrainRunsIsRunToo) {
  std::promise<void> Draining, Posted;
  std::thread Worker([&] {
    FQueue.Post(&FTag, [&] {
      Draining.set_value();
      Posted.get_future().wait();  // the drain goes on until the next post is made
    });
    Draining.get_future().wait();
    FQueue.Post(&FTag, [&] { FLoop.Quit(3); });
    Posted.set_value();
  });
  EXPECT_EQ(FLoop.Run(nullptr), 3);
  Worker.join();
}

TEST_F(TWin32MainLoopTest, AQuitBeforeRunEndsTheNextRun) {
  FLoop.Quit(9);
  EXPECT_EQ(FLoop.Run(nullptr), 9);
}

// A modal dialog (a message box) runs a loop of its own on this thread, which ends when the
// quit message of the thread arrives and posts it again for the loop outside.
TEST_F(TWin32MainLoopTest, AQuitWhileADialogRunsItsOwnLoopEndsBoth) {
  std::promise<void> InDialog;
  bool DialogQuit = false;
  FQueue.Post(&FTag, [&] {
    InDialog.set_value();
    const auto GiveUp = TClock::now() + 20s;  // the tick wakes this loop every second
    MSG Message;
    while (TClock::now() < GiveUp) {
      if (GetMessageW(&Message, nullptr, 0, 0) <= 0) {
        DialogQuit = true;
        PostQuitMessage(static_cast<int>(Message.wParam));
        return;
      }
      TranslateMessage(&Message);
      DispatchMessageW(&Message);
    }
  });
  std::thread Worker([&] {
    InDialog.get_future().wait();
    FLoop.Quit(4);
  });
  EXPECT_EQ(FLoop.Run([] {}), 4);
  Worker.join();
  EXPECT_TRUE(DialogQuit);
}

TEST_F(TWin32MainLoopTest, TicksEverySecondOnItsThreadUntilQuit) {
  std::vector<TClock::time_point> Ticks;
  bool Elsewhere = false;
  const TClock::time_point Start = TClock::now();
  EXPECT_EQ(FLoop.Run([&] {
    Ticks.push_back(TClock::now());
    Elsewhere |= std::this_thread::get_id() != FLoopThread;
    if (Ticks.size() == 2) FLoop.Quit(5);
  }),
            5);
  ASSERT_EQ(Ticks.size(), 2u);
  EXPECT_FALSE(Elsewhere);
  // A timer never fires early, so only the lower bound is checked (with room for the
  // timer's granularity); a late tick is the machine's load.
  EXPECT_GE(Ticks[0] - Start, 900ms);
  EXPECT_GE(Ticks[1] - Ticks[0], 900ms);
}

}  // namespace
}  // namespace halvora

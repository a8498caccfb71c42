#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "base/uThread.h"
#include "support/uTestClock.h"
#include "support/uTestLoop.h"

namespace halvora {
namespace {

using test::TTestClock;
using test::TTestLoop;

// A worker whose body the test supplies.
class TLambdaThread final : public TThread {
 public:
  TLambdaThread(TMainQueue& AQueue, std::function<void(TLambdaThread&)> ABody)
      : TThread(AQueue), FBody(std::move(ABody)) {}
  ~TLambdaThread() override { StopThread(); }
  using TThread::Queue;
  using TThread::RemoveQueuedEvents;
  using TThread::Synchronize;

 protected:
  void Execute() override { FBody(*this); }

 private:
  std::function<void(TLambdaThread&)> FBody;
};

TEST(MainQueue, RunsInOrderOnlyWhatWasQueuedBefore) {
  TMainQueue Queue;
  std::vector<int> Ran;
  int Tag = 0;
  Queue.Post(&Tag, [&] {
    Ran.push_back(1);
    Queue.Post(&Tag, [&] { Ran.push_back(3); });  // runs in the next drain
  });
  Queue.Post(&Tag, [&] { Ran.push_back(2); });
  EXPECT_EQ(Queue.ProcessPending(), 2u);
  EXPECT_EQ(Ran, (std::vector<int>{1, 2}));
  EXPECT_EQ(Queue.ProcessPending(), 1u);
  EXPECT_EQ(Ran, (std::vector<int>{1, 2, 3}));
}

TEST(MainQueue, WithdrawDropsOnlyThatTagEvenFromARunningProcedure) {
  TMainQueue Queue;
  int A = 0, B = 0;
  std::vector<char> Ran;
  Queue.Post(&A, [&] {
    Ran.push_back('a');
    Queue.Withdraw(&B);  // a procedure that destroys another worker
  });
  Queue.Post(&B, [&] { Ran.push_back('b'); });
  Queue.Post(&A, [&] { Ran.push_back('a'); });
  Queue.ProcessPending();
  EXPECT_EQ(Ran, (std::vector<char>{'a', 'a'}));
}

TEST(MainQueue, SealRefusesUntilUnsealedAndShutdownRefusesAll) {
  TMainQueue Queue;
  int Tag = 0;
  Queue.Seal(&Tag);
  EXPECT_FALSE(Queue.Post(&Tag, [] {}));
  EXPECT_FALSE(Queue.CallAndWait(&Tag, [] {}));
  Queue.Unseal(&Tag);
  EXPECT_TRUE(Queue.Post(&Tag, [] {}));
  Queue.Shutdown();
  EXPECT_EQ(Queue.PendingCount(), 0u);
  EXPECT_FALSE(Queue.Post(&Tag, [] {}));
}

TEST(MainQueue, AThrowingProcedureDoesNotStopTheLoop) {
  TMainQueue Queue;
  bool Ran = false;
  Queue.Post(nullptr, [] { throw std::runtime_error("x"); });
  Queue.Post(nullptr, [&] { Ran = true; });
  EXPECT_EQ(Queue.ProcessPending(), 2u);
  EXPECT_TRUE(Ran);
}

TEST(Thread, QueuedProceduresRunOnTheMainThreadAndSynchronizeReturnsAfterwards) {
  TTestLoop Loop;
  std::atomic<int> Value{0};
  std::thread::id RanOn;
  std::atomic<bool> Synced{false};
  TLambdaThread Worker(Loop.Queue(), [&](TLambdaThread& AThread) {
    AThread.Queue([&] { Value = 1; });
    Synced = AThread.Synchronize([&] {
      RanOn = std::this_thread::get_id();
      Value = Value + 1;
    });
  });
  Worker.Start();
  ASSERT_TRUE(Loop.RunUntil([&] { return Worker.Finished(); }));
  EXPECT_TRUE(Synced);
  EXPECT_EQ(Value, 2);
  EXPECT_EQ(RanOn, std::this_thread::get_id());
}

TEST(Thread, DestroyingCancelsAPendingSynchronizeAndWithdrawsQueuedWork) {
  TTestLoop Loop;
  std::atomic<int> Results{0};
  std::atomic<bool> Blocked{false};
  bool Ran = false;
  {
    TLambdaThread Worker(Loop.Queue(), [&](TLambdaThread& AThread) {
      AThread.Queue([&] { Ran = true; });
      Blocked = true;
      // The main thread never drains: only the destructor can end this wait.
      if (!AThread.Synchronize([&] { Ran = true; })) Results = -1;
    });
    Worker.Start();
    while (!Blocked) std::this_thread::yield();
  }
  EXPECT_EQ(Results, -1);
  Loop.RunPending();
  EXPECT_FALSE(Ran);
}

TEST(Thread, AnExceptionEndsExecuteQuietly) {
  TTestLoop Loop;
  TLambdaThread Worker(Loop.Queue(), [](TLambdaThread&) { throw std::runtime_error("boom"); });
  Worker.Start();
  Worker.WaitFor();
  EXPECT_TRUE(Worker.Finished());
}

TEST(Event, ManualStaysSetAutoIsConsumedByOneWait) {
  TEvent Manual(true, false), Auto(false, true);
  Manual.SetEvent();
  EXPECT_TRUE(Manual.WaitReal(0));
  EXPECT_TRUE(Manual.WaitReal(0));
  EXPECT_TRUE(Auto.WaitReal(0));
  EXPECT_FALSE(Auto.WaitReal(0));
  Manual.ResetEvent();
  EXPECT_FALSE(Manual.IsSet());
}

TEST(TestClock, AWaitEndsExactlyWhenItsTimeHasComeOrWhenTheEventIsSet) {
  TTestClock Clock;
  TEvent Wake(true, false);
  std::atomic<int> Result{-2};
  std::thread Waiter([&] { Result = Clock.WaitFor(Wake, 60000) ? 1 : 0; });
  ASSERT_TRUE(Clock.WaitForWaiters(1));
  Clock.Advance(59999);
  EXPECT_EQ(Clock.WaiterCount(), 1u);  // still waiting: its deadline is a millisecond away
  Clock.Advance(1);
  Waiter.join();
  EXPECT_EQ(Result, 0);

  std::thread Woken([&] { Result = Clock.WaitFor(Wake, InfiniteWait) ? 1 : 0; });
  ASSERT_TRUE(Clock.WaitForWaiters(1));
  Wake.SetEvent();
  Woken.join();
  EXPECT_EQ(Result, 1);
  EXPECT_EQ(Clock.Waits(), (std::vector<std::uint32_t>{60000, InfiniteWait}));
}

TEST(TestClock, TickCountWrapsAsAnUnsigned32BitCounter) {
  TTestClock Clock(0xFFFFFF00u);
  Clock.Advance(0x200);
  EXPECT_EQ(Clock.GetTickCount(), 0x100u);
}

}  // namespace
}  // namespace halvora

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <latch>
#include <limits>
#include <mutex>
#include <ostream>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "input/uInputInjector.h"
#include "support/uTestClock.h"

namespace halvora {

// How gtest prints what a test compares.
void PrintTo(const TPoint& APoint, std::ostream* AOut) {
  *AOut << "(" << APoint.X << ", " << APoint.Y << ")";
}

namespace test {
namespace {

using namespace std::chrono_literals;

// One call the worker made on its sink.
struct TCall {
  enum TKind { Mouse, Key, Finish } Kind = Mouse;
  TPoint Pos;
  TMouseAction Action = TMouseAction::Move;
  std::int32_t Wheel = 0;
  std::uint16_t VKey = 0;
  bool Down = false;
  bool Extended = false;
  bool operator==(const TCall&) const = default;
};

TCall KeyCall(std::uint16_t AVKey, bool ADown, bool AExtended = false) {
  return {TCall::Key, {}, TMouseAction::Move, 0, AVKey, ADown, AExtended};
}
TCall FinishCall() { return {TCall::Finish, {}, TMouseAction::Move, 0, 0, false, false}; }
TCall MouseCall(TPoint APos, TMouseAction AAction = TMouseAction::Move, std::int32_t AWheel = 0) {
  return {TCall::Mouse, APos, AAction, AWheel, 0, false, false};
}

void PrintTo(const TCall& ACall, std::ostream* AOut) {
  switch (ACall.Kind) {
    case TCall::Mouse:
      *AOut << "mouse (" << ACall.Pos.X << ", " << ACall.Pos.Y << ") action "
            << static_cast<int>(ACall.Action) << " wheel " << ACall.Wheel;
      break;
    case TCall::Key:
      *AOut << "key 0x" << std::hex << ACall.VKey << std::dec << (ACall.Down ? " down" : " up")
            << (ACall.Extended ? " extended" : "");
      break;
    case TCall::Finish:
      *AOut << "finish release";
      break;
  }
}

// The windowing system as the sink shows it, shared by the test and the worker.
struct TFakeDesk {
  std::mutex Lock;
  std::condition_variable Changed;
  std::vector<TRect> Monitors{{0, 0, 1920, 1080}};
  std::set<std::uint16_t> Down;  // keys reported down
  std::vector<TCall> Calls;
  std::uint16_t ThrowKey = 0xFFFF;  // SendKey of this code throws
  std::uint16_t GateKey = 0xFFFF;   // SendKey of this code waits for GateOpen
  bool GateEntered = false;
  bool GateOpen = false;
  int FailSinks = 0;             // so many factory calls throw first
  int SinksMade = 0;
  int Switches = 0;
  std::thread::id SinkThread;

  bool WaitForCalls(std::size_t ACount) {
    std::unique_lock Guard(Lock);
    return Changed.wait_for(Guard, 10s, [&] { return Calls.size() >= ACount; });
  }
  std::vector<TCall> TakenCalls() {
    std::lock_guard Guard(Lock);
    return Calls;
  }
};

class TFakeSink final : public IInputSink {
 public:
  explicit TFakeSink(TFakeDesk& ADesk) : FDesk(ADesk) {}

  std::vector<TRect> GetMonitorRects() override {
    std::lock_guard Guard(FDesk.Lock);
    return FDesk.Monitors;
  }
  bool SwitchToInputDesktop() override {
    std::lock_guard Guard(FDesk.Lock);
    ++FDesk.Switches;
    return false;
  }
  void SendMouse(TPoint APos, TMouseAction AAction, std::int32_t AWheel) override {
    Record(MouseCall(APos, AAction, AWheel));
  }
  void SendKey(std::uint16_t AVKey, bool ADown, bool AExtended) override {
    {
      std::unique_lock Guard(FDesk.Lock);
      if (AVKey == FDesk.ThrowKey) throw std::runtime_error("refused");
      if (AVKey == FDesk.GateKey) {
        FDesk.GateEntered = true;
        FDesk.Changed.notify_all();
        FDesk.Changed.wait(Guard, [&] { return FDesk.GateOpen; });
      }
    }
    Record(KeyCall(AVKey, ADown, AExtended));
  }
  bool IsKeyDown(std::uint16_t AVKey) override {
    std::lock_guard Guard(FDesk.Lock);
    return FDesk.Down.count(AVKey) != 0;
  }
  void FinishRelease() override { Record(FinishCall()); }

 private:
  void Record(const TCall& ACall) {
    std::lock_guard Guard(FDesk.Lock);
    FDesk.Calls.push_back(ACall);
    FDesk.Changed.notify_all();
  }

  TFakeDesk& FDesk;
};

TInputSinkFactory FakeSinks(TFakeDesk& ADesk) {
  return [&ADesk]() -> std::unique_ptr<IInputSink> {
    std::lock_guard Guard(ADesk.Lock);
    ADesk.SinkThread = std::this_thread::get_id();
    if (ADesk.FailSinks > 0) {
      --ADesk.FailSinks;
      throw std::runtime_error("no display");
    }
    ++ADesk.SinksMade;
    return std::make_unique<TFakeSink>(ADesk);
  };
}

TMousePacket Mouse(std::uint8_t AMonitor, std::uint16_t AX, std::uint16_t AY,
                   std::uint8_t AAction = 0, std::int16_t AWheel = 0) {
  return {AMonitor, AX, AY, AAction, AWheel};
}

TInputItem KeyItem(std::uint16_t AVKey, std::uint8_t ADown = 1) {
  TInputItem Item;
  Item.Kind = ikKey;
  Item.Key = {AVKey, ADown};
  return Item;
}

TInputItem MouseItem(const TMousePacket& APacket, std::int32_t AMonitor) {
  TInputItem Item;
  Item.Kind = ikMouse;
  Item.Mouse = APacket;
  Item.Monitor = AMonitor;
  return Item;
}

TEST(MulDivTest, RoundsHalvesAwayFromZeroWithA64BitIntermediate) {
  constexpr std::int32_t Max = std::numeric_limits<std::int32_t>::max();
  constexpr std::int32_t Min = std::numeric_limits<std::int32_t>::min();
  struct TCase {
    std::int32_t Value, Numerator, Denominator, Expected;
  };
  const TCase Cases[] = {
      {0, 1919, 65535, 0},
      {65535, 1919, 65535, 1919},
      {32768, 1919, 65535, 960},  // 959.51
      {1, 1, 2, 1},               // halves away from zero
      {-1, 1, 2, -1},
      {1, -1, 2, -1},
      {-1, -1, 2, 1},
      {3, 1, -2, -2},
      {3, -1, -2, 2},
      {4, 1, 3, 1},               // 1.33
      {5, 1, 3, 2},               // 1.67
      {-5, 1, 3, -2},
      {Max, Max, Max, Max},       // the product needs 62 bits
      {-65536, 32768, 1, Min},    // the most negative result fits
      {65536, 32768, 1, -1},      // one past the largest: overflow
      {Max, 2, 1, -1},
      {1, 1, 0, -1},              // no divisor
  };
  for (const TCase& C : Cases)
    EXPECT_EQ(MulDiv(C.Value, C.Numerator, C.Denominator), C.Expected)
        << C.Value << " * " << C.Numerator << " / " << C.Denominator;
}

TEST(InjectMouseTest, MapsTheWireRangeOntoEachMonitorsFirstAndLastPixel) {
  TFakeDesk Desk;
  // The primary, one left of it reaching above, one above it: negative coordinates.
  Desk.Monitors = {{0, 0, 1920, 1080}, {-1280, -200, 0, 824}, {0, -768, 1024, 0}};
  TFakeSink Sink(Desk);
  struct TCase {
    std::int32_t Monitor;
    std::uint16_t X, Y;
    TPoint Expected;
  };
  const TCase Cases[] = {
      {0, 0, 0, {0, 0}},           {0, 65535, 65535, {1919, 1079}},
      {1, 0, 0, {-1280, -200}},    {1, 65535, 65535, {-1, 823}},
      {2, 0, 0, {0, -768}},        {2, 65535, 65535, {1023, -1}},
      {3, 0, 0, {0, -768}},        {255, 65535, 65535, {1023, -1}},  // past the list: last
      {-1, 0, 0, {0, 0}},
  };
  for (const TCase& C : Cases) InjectMouse(Sink, Mouse(0, C.X, C.Y), C.Monitor);
  const std::vector<TCall> Calls = Desk.TakenCalls();
  ASSERT_EQ(Calls.size(), std::size(Cases));
  for (std::size_t I = 0; I < Calls.size(); ++I)
    EXPECT_EQ(Calls[I].Pos, Cases[I].Expected) << "monitor " << Cases[I].Monitor << " X "
                                               << Cases[I].X << " Y " << Cases[I].Y;
}

TEST(InjectMouseTest, AddsTheActionOfTheTableAndTheWheelOnlyForAction7) {
  TFakeDesk Desk;
  TFakeSink Sink(Desk);
  const TMouseAction Expected[] = {
      TMouseAction::Move,      TMouseAction::LeftDown,   TMouseAction::LeftUp,
      TMouseAction::RightDown, TMouseAction::RightUp,    TMouseAction::MiddleDown,
      TMouseAction::MiddleUp,  TMouseAction::Wheel,      TMouseAction::Move,
      TMouseAction::Move};
  for (std::uint8_t Action = 0; Action < 10; ++Action)
    InjectMouse(Sink, Mouse(0, 0, 0, Action, -120), 0);
  InjectMouse(Sink, Mouse(0, 0, 0, 255, 240), 0);
  InjectMouse(Sink, Mouse(0, 0, 0, 7, -32768), 0);
  const std::vector<TCall> Calls = Desk.TakenCalls();
  ASSERT_EQ(Calls.size(), 12u);
  for (std::size_t I = 0; I < 10; ++I) {
    EXPECT_EQ(Calls[I].Action, Expected[I]) << "action " << I;
    EXPECT_EQ(Calls[I].Wheel, I == 7 ? -120 : 0) << "action " << I;
  }
  EXPECT_EQ(Calls[10], MouseCall({0, 0}));
  EXPECT_EQ(Calls[11], MouseCall({0, 0}, TMouseAction::Wheel, -32768));
}

TEST(InjectMouseTest, AnEmptyMonitorListInjectsNothing) {
  TFakeDesk Desk;
  Desk.Monitors.clear();
  TFakeSink Sink(Desk);
  InjectMouse(Sink, Mouse(0, 100, 100, 1), 0);
  EXPECT_TRUE(Desk.TakenCalls().empty());
}

TEST(InjectKeyTest, SetsTheExtendedFlagByTheTableAndTakesAnyNonZeroDownAsAPress) {
  const std::set<std::uint16_t> Extended = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x2C,
                                            0x2D, 0x2E, 0x5B, 0x5C, 0x5D, 0x6F, 0x90, 0xA3, 0xA5};
  for (int VKey = 0; VKey < 0x200; ++VKey)
    EXPECT_EQ(IsExtendedKey(static_cast<std::uint16_t>(VKey)), Extended.count(VKey) != 0)
        << "0x" << std::hex << VKey;

  TFakeDesk Desk;
  TFakeSink Sink(Desk);
  InjectKey(Sink, {0x25, 1});
  InjectKey(Sink, {0x0D, 2});
  InjectKey(Sink, {0x0D, 0});
  InjectKey(Sink, {0xA5, 255});
  EXPECT_EQ(Desk.TakenCalls(), (std::vector<TCall>{KeyCall(0x25, true, true),
                                                   KeyCall(0x0D, true), KeyCall(0x0D, false),
                                                   KeyCall(0xA5, true, true)}));
}

TEST(ReleaseHeldKeysTest, ReleasesTheDownKeysOfTheTableInItsOrder) {
  struct TCase {
    std::set<std::uint16_t> Down;
    std::vector<TCall> Expected;
  };
  const TCase Cases[] = {
      // Left Shift held: both the generic and the left code report down, generic first.
      {{0xA0, 0x10}, {KeyCall(0x10, false), KeyCall(0xA0, false), FinishCall()}},
      // Right Alt held: only the generic Alt code is in the table.
      {{0x12, 0xA5}, {KeyCall(0x12, false), FinishCall()}},
      {{0x5C, 0xA3, 0x11, 0x41},
       {KeyCall(0x11, false), KeyCall(0xA3, false, true), KeyCall(0x5C, false, true),
        FinishCall()}},
      {{}, {FinishCall()}},
  };
  for (const TCase& C : Cases) {
    TFakeDesk Desk;
    Desk.Down = C.Down;
    TFakeSink Sink(Desk);
    ReleaseHeldKeys(Sink);
    EXPECT_EQ(Desk.TakenCalls(), C.Expected);
  }
}

class InputThreadTest : public testing::Test {
 protected:
  TTestClock FClock;
  TFakeDesk FDesk;
};

TEST_F(InputThreadTest, InjectsInPostingOrderThroughOneSinkMadeOnTheWorker) {
  TInputThread Thread(FakeSinks(FDesk), FClock);
  ASSERT_TRUE(FClock.WaitForWaiters(1));  // idle until the first item
  {
    std::lock_guard Guard(FDesk.Lock);
    EXPECT_EQ(FDesk.SinksMade, 0);
  }
  TInputItem Release;
  Release.Kind = ikRelease;
  Thread.Post(MouseItem(Mouse(7, 65535, 0, 1), 0));
  Thread.Post(KeyItem(0x41));
  Thread.Post(Release);
  Thread.Post(KeyItem(0x41, 0));
  ASSERT_TRUE(FDesk.WaitForCalls(4));
  EXPECT_EQ(FDesk.TakenCalls(),
            (std::vector<TCall>{MouseCall({1919, 0}, TMouseAction::LeftDown), KeyCall(0x41, true),
                                FinishCall(), KeyCall(0x41, false)}));
  std::lock_guard Guard(FDesk.Lock);
  EXPECT_EQ(FDesk.SinksMade, 1);
  EXPECT_NE(FDesk.SinkThread, std::this_thread::get_id());
  EXPECT_EQ(FDesk.Switches, 4);  // the input desktop is looked up before every item
}

TEST_F(InputThreadTest, WaitsOnTheClockInSlicesOf500Milliseconds) {
  TInputThread Thread(FakeSinks(FDesk), FClock);
  ASSERT_TRUE(FClock.WaitForWaits(1));
  FClock.Advance(500);  // a time-out is taken like a wake-up: the loop waits again
  ASSERT_TRUE(FClock.WaitForWaits(2));
  Thread.Post(KeyItem(0x41));
  ASSERT_TRUE(FDesk.WaitForCalls(1));
  ASSERT_TRUE(FClock.WaitForWaits(3));
  for (const std::uint32_t Wait : FClock.Waits()) EXPECT_EQ(Wait, TInputThread::WakeInterval);
}

TEST_F(InputThreadTest, TwoThreadsPostingAtOnceLoseNothingAndKeepTheirOrder) {
  constexpr std::uint16_t PerThread = 20000;
  TInputThread Worker(FakeSinks(FDesk), FClock);
  const auto PostRange = [&](std::uint16_t AFirst) {
    for (std::uint16_t I = 0; I < PerThread; ++I)
      Worker.Post(KeyItem(static_cast<std::uint16_t>(AFirst + I)));
  };
  std::thread A(PostRange, 0);
  std::thread B(PostRange, PerThread);
  A.join();
  B.join();
  ASSERT_TRUE(FDesk.WaitForCalls(2 * PerThread));
  std::uint32_t NextA = 0, NextB = PerThread;
  for (const TCall& Call : FDesk.TakenCalls()) {
    if (Call.VKey < PerThread)
      ASSERT_EQ(Call.VKey, NextA++);
    else
      ASSERT_EQ(Call.VKey, NextB++);
  }
  EXPECT_EQ(NextA, PerThread);
  EXPECT_EQ(NextB, 2u * PerThread);
}

TEST_F(InputThreadTest, AnItemThatThrowsIsDroppedAndTheNextGoesOn) {
  FDesk.ThrowKey = 0x42;
  TInputThread Thread(FakeSinks(FDesk), FClock);
  Thread.Post(KeyItem(0x41));
  Thread.Post(KeyItem(0x42));
  Thread.Post(KeyItem(0x43));
  ASSERT_TRUE(FDesk.WaitForCalls(2));
  EXPECT_EQ(FDesk.TakenCalls(), (std::vector<TCall>{KeyCall(0x41, true), KeyCall(0x43, true)}));
}

TEST_F(InputThreadTest, ASinkThatCannotBeMadeIsTriedAgainAfterAPause) {
  FDesk.FailSinks = 1;
  TInputThread Thread(FakeSinks(FDesk), FClock);
  // A wait begins only once the items before it are handled.
  Thread.Post(KeyItem(0x41));  // no sink: dropped
  ASSERT_TRUE(FClock.WaitForWaits(2));
  Thread.Post(KeyItem(0x42));  // too soon to try again: dropped
  ASSERT_TRUE(FClock.WaitForWaits(3));
  FClock.Advance(TInputThread::SinkRetryInterval);
  ASSERT_TRUE(FClock.WaitForWaits(4));
  Thread.Post(KeyItem(0x43));
  ASSERT_TRUE(FDesk.WaitForCalls(1));
  EXPECT_EQ(FDesk.TakenCalls(), (std::vector<TCall>{KeyCall(0x43, true)}));
  std::lock_guard Guard(FDesk.Lock);
  EXPECT_EQ(FDesk.SinksMade, 1);
}

TEST_F(InputThreadTest, DestructionFinishesTheItemInHandAndDiscardsTheQueue) {
  FDesk.GateKey = 0x47;
  auto Thread = std::make_unique<TInputThread>(FakeSinks(FDesk), FClock);
  Thread->Post(KeyItem(0x47));
  for (int I = 0; I < 1000; ++I) Thread->Post(KeyItem(0x41));
  {
    std::unique_lock Guard(FDesk.Lock);
    ASSERT_TRUE(FDesk.Changed.wait_for(Guard, 10s, [&] { return FDesk.GateEntered; }));
  }
  Thread->Terminate();  // as the destructor does first
  {
    std::lock_guard Guard(FDesk.Lock);
    FDesk.GateOpen = true;
    FDesk.Changed.notify_all();
  }
  Thread.reset();  // the test clock never moves: no wait may be needed to get here
  EXPECT_EQ(FDesk.TakenCalls(), (std::vector<TCall>{KeyCall(0x47, true)}));
}

// The process-wide worker, shared by every run of the test in this process.
TFakeDesk& ProcessDesk() {
  static TFakeDesk Desk;
  return Desk;
}

TEST(InputQueueTest, ThreadsRacingToMakeTheWorkerGetOneAndLoseNothing) {
  static const bool PlatformSet = SetInputPlatform(FakeSinks(ProcessDesk()));
  EXPECT_TRUE(PlatformSet);
  TFakeDesk& Desk = ProcessDesk();
  {
    std::lock_guard Guard(Desk.Lock);
    Desk.Calls.clear();
  }
  constexpr int Threads = 4;
  constexpr std::uint16_t PerThread = 1000;
  std::latch Start(Threads);
  std::vector<std::thread> Posters;
  for (int T = 0; T < Threads; ++T)
    Posters.emplace_back([T, &Start] {
      Start.arrive_and_wait();  // the first run's first posts race to make the worker
      for (std::uint16_t I = 0; I < PerThread; ++I)
        QueueKeyInput({static_cast<std::uint16_t>(T * PerThread + I), 1});
    });
  for (std::thread& Poster : Posters) Poster.join();
  QueueMouseInput(Mouse(0, 65535, 65535, 1), 9);
  QueueReleaseKeys();
  ASSERT_TRUE(Desk.WaitForCalls(Threads * PerThread + 2));
  EXPECT_FALSE(SetInputPlatform(FakeSinks(Desk)));  // too late: the worker exists

  const std::vector<TCall> Calls = Desk.TakenCalls();
  ASSERT_EQ(Calls.size(), Threads * PerThread + 2u);
  std::vector<int> Next(Threads, 0);
  for (std::size_t I = 0; I < Threads * PerThread; ++I) {
    const int T = Calls[I].VKey / PerThread;
    ASSERT_EQ(Calls[I].VKey, T * PerThread + Next[T]++) << "thread " << T;
  }
  EXPECT_EQ(Calls[Threads * PerThread], MouseCall({1919, 1079}, TMouseAction::LeftDown));
  EXPECT_EQ(Calls.back(), FinishCall());
  std::lock_guard Guard(Desk.Lock);
  EXPECT_EQ(Desk.SinksMade, 1);
}

}  // namespace
}  // namespace test
}  // namespace halvora

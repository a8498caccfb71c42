#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "capture/uScreenGrabber.h"
#include "session/uCaptureThread.h"
#include "protocol/uProtocol.h"
#include "support/uTestClock.h"

namespace halvora::test {
namespace {

using namespace std::chrono_literals;

// The screen as the loop sees it: monitors of 100 × 100 side by side, each capture a frame of
// FrameSize bytes (byte 0 the monitor) while the screen changes, nothing after a capturer's
// first frame while it is still. Shared with the test under one lock.
struct TFakeScreen {
  std::mutex Lock;
  int Monitors = 1;
  bool Changing = true;
  std::size_t FrameSize = 1000;
  bool SwitchDesktop = false;  // the next pass finds another input desktop
  bool ThrowOnCapture = false;
  int CapturersMade = 0;
  std::vector<int> Qualities;  // as set before each capture, in order
};

class TFakeCapturer final : public IScreenCapturer {
 public:
  explicit TFakeCapturer(TFakeScreen& AScreen) : FScreen(AScreen) {}
  bool CaptureChanges(const TRect& AArea, std::uint8_t AMonitor, TIdBytes& APayload) override {
    std::lock_guard Guard(FScreen.Lock);
    APayload.clear();
    if (FScreen.ThrowOnCapture) throw EScreenCapture("Falha ao criar o buffer de captura de tela");
    if (!FFirst && !FScreen.Changing) return false;
    FFirst = false;
    APayload.assign(FScreen.FrameSize, 0);
    APayload[0] = AMonitor;
    APayload[1] = static_cast<std::uint8_t>(AArea.Left / 100);
    return true;
  }
  void SetQuality(int AQuality) override {
    std::lock_guard Guard(FScreen.Lock);
    FScreen.Qualities.push_back(AQuality);
  }

 private:
  TFakeScreen& FScreen;
  bool FFirst = true;
};

class TFakeSource final : public IScreenSource {
 public:
  explicit TFakeSource(TFakeScreen& AScreen) : FScreen(AScreen) {}
  std::vector<TRect> GetMonitorRects() override {
    std::lock_guard Guard(FScreen.Lock);
    std::vector<TRect> Rects;
    for (int I = 0; I < FScreen.Monitors; ++I) Rects.push_back({I * 100, 0, I * 100 + 100, 100});
    return Rects;
  }
  bool SwitchToInputDesktop() override {
    std::lock_guard Guard(FScreen.Lock);
    return std::exchange(FScreen.SwitchDesktop, false);
  }
  std::unique_ptr<IScreenCapturer> NewCapturer() override {
    std::lock_guard Guard(FScreen.Lock);
    ++FScreen.CapturersMade;
    return std::make_unique<TFakeCapturer>(FScreen);
  }

 private:
  TFakeScreen& FScreen;
};

// One message as the loop sent it: 107 with its two bytes, or 103 as "frame" and its monitor.
struct TSent {
  std::uint8_t Cmd;
  std::vector<int> Data;
  bool operator==(const TSent&) const = default;
};

TSent Info(int ACount, int ASelected) { return {cmdMonitorInfo, {ACount, ASelected}}; }
TSent Frame(int AMonitor) { return {cmdFrame, {AMonitor}}; }

class CaptureThread : public ::testing::Test {
 protected:
  ~CaptureThread() override { Stop(); }

  void Start() {
    {
      std::lock_guard Guard(FLock);
      FSent.clear();
      FStopping = false;
    }
    Thread = std::make_unique<TCaptureThread>(
        [this](std::uint8_t ACmd, const TIdBytes& APayload) { return Send(ACmd, APayload); },
        [this] { return std::make_unique<TFakeSource>(Screen); }, Clock);
    std::lock_guard Guard(FLock);
    FLive = Thread.get();
    FChanged.notify_all();
  }
  void Stop() {
    {
      std::lock_guard Guard(FLock);
      FStopping = true;
      FLive = nullptr;
      FChanged.notify_all();
    }
    Thread.reset();
  }

  bool Send(std::uint8_t ACmd, const TIdBytes& APayload) {
    std::unique_lock Guard(FLock);
    if (ACmd == cmdMonitorInfo)
      FSent.push_back({ACmd, {APayload.at(0), APayload.at(1)}});
    else
      FSent.push_back({ACmd, {APayload.at(0)}});
    FChanged.notify_all();
    const bool Ok = FFailAt != FSent.size();
    // The viewer acknowledges before the loop waits, as it does when it is fast. The first
    // frame may come before Start has the thread's address.
    if (Ok && ACmd == cmdFrame && FAutoAck) {
      FChanged.wait(Guard, [&] { return FLive || FStopping; });
      if (FLive) FLive->FrameAcked();
    }
    return Ok;
  }

  // Waits until ACount messages in all were sent.
  bool WaitSent(std::size_t ACount) {
    std::unique_lock Guard(FLock);
    return FChanged.wait_for(Guard, 10s, [&] { return FSent.size() >= ACount; });
  }
  std::vector<TSent> Sent() {
    std::lock_guard Guard(FLock);
    return FSent;
  }
  // Frames sent after the first ASkip messages, by monitor.
  std::vector<int> FramesAfter(std::size_t ASkip) {
    std::vector<int> Monitors;
    const std::vector<TSent> All = Sent();
    for (std::size_t I = ASkip; I < All.size(); ++I)
      if (All[I].Cmd == cmdFrame) Monitors.push_back(All[I].Data[0]);
    return Monitors;
  }
  // Waits until the loop pauses between passes and returns the pause it asked for. Frames
  // are acknowledged at once, so every other wait it begins is a pause.
  std::uint32_t NextPause() {
    for (;;) {
      EXPECT_TRUE(Clock.WaitForWaits(++FWaitsSeen));
      const std::uint32_t Wait = Clock.Waits()[FWaitsSeen - 1];
      if (Wait != TCaptureThread::AckWaitSlice) return Wait;
    }
  }
  // With a frame out (the ACount-th message), lets ADelay pass, then acknowledges it.
  void AckAfter(std::size_t ACount, std::uint32_t ADelay) {
    ASSERT_TRUE(WaitSent(ACount));
    ASSERT_TRUE(Clock.WaitForWaiters(1));
    Clock.Advance(ADelay);
    Thread->FrameAcked();
  }
  std::vector<int> Qualities() {
    std::lock_guard Guard(Screen.Lock);
    return Screen.Qualities;
  }

  TTestClock Clock;
  TFakeScreen Screen;
  bool FAutoAck = true;
  std::size_t FFailAt = 0;  // the send of this message (counted from 1) fails
  std::unique_ptr<TCaptureThread> Thread;

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  std::vector<TSent> FSent;
  TCaptureThread* FLive = nullptr;  // the running thread, for acknowledgements from Send
  bool FStopping = false;
  std::size_t FWaitsSeen = 0;
};

TEST_F(CaptureThread, AnnouncesThenSendsFullFramesThenOthersEvery100Ms) {
  Screen.Monitors = 3;
  Start();
  EXPECT_EQ(NextPause(), 40u);  // the first pass took no time
  EXPECT_EQ(Sent(), (std::vector<TSent>{Info(3, 0), Frame(0), Frame(1), Frame(2)}));

  // Passes 50 ms apart: monitor 0 in each, the others once 100 ms have passed.
  std::vector<std::vector<int>> Passes;
  for (int Pass = 0; Pass < 4; ++Pass) {
    const std::size_t Before = Sent().size();
    Clock.Advance(50);
    EXPECT_EQ(NextPause(), 40u);
    Passes.push_back(FramesAfter(Before));
  }
  EXPECT_EQ(Passes, (std::vector<std::vector<int>>{{0}, {0, 1, 2}, {0}, {0, 1, 2}}));
}

TEST_F(CaptureThread, StillScreenSendsNothingAfterTheFullFrames) {
  Screen.Changing = false;
  Start();
  NextPause();
  for (int Pass = 0; Pass < 10; ++Pass) {
    Clock.Advance(40);
    NextPause();
  }
  EXPECT_EQ(Sent(), (std::vector<TSent>{Info(1, 0), Frame(0)}));
}

TEST_F(CaptureThread, PausesOnlyForWhatThePassLeftOf40Ms) {
  FAutoAck = false;
  Start();
  AckAfter(2, 25);  // the first frame took 25 ms
  EXPECT_EQ(NextPause(), 15u);
  Clock.Advance(15);
  AckAfter(3, 60);  // longer than a pass: the next one starts at once
  ASSERT_TRUE(Clock.WaitForWaits(4));
  EXPECT_EQ(FramesAfter(0), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(Clock.Waits(), (std::vector<std::uint32_t>{200, 15, 200, 200}));
}

TEST_F(CaptureThread, ASelectionIsClampedAnnouncedAndCapturedFirst) {
  Screen.Monitors = 2;
  Start();
  NextPause();
  Thread->SelectMonitor(5);  // only two monitors: the last one
  Clock.Advance(40);
  NextPause();
  Thread->SelectMonitor(0);
  Clock.Advance(40);
  NextPause();
  // The other monitor waits for its 100 ms.
  EXPECT_EQ(Sent(), (std::vector<TSent>{Info(2, 0), Frame(0), Frame(1), Info(2, 1), Frame(1),
                                        Info(2, 0), Frame(0)}));
}

TEST_F(CaptureThread, OnlyTheFirstEightOfTenMonitorsAreUsed) {
  Screen.Monitors = 10;
  Start();
  NextPause();
  std::vector<TSent> Expected{Info(8, 0)};
  for (int I = 0; I < 8; ++I) Expected.push_back(Frame(I));
  EXPECT_EQ(Sent(), Expected);
  std::lock_guard Guard(Screen.Lock);
  EXPECT_EQ(Screen.CapturersMade, 8);
}

TEST_F(CaptureThread, ADesktopSwitchOrAChangedCountStartsAfresh) {
  Screen.Monitors = 2;
  Screen.Changing = false;
  Start();
  NextPause();
  {
    std::lock_guard Guard(Screen.Lock);
    Screen.SwitchDesktop = true;
  }
  Clock.Advance(40);
  NextPause();
  {
    std::lock_guard Guard(Screen.Lock);
    Screen.Monitors = 3;
  }
  Clock.Advance(40);
  NextPause();
  EXPECT_EQ(Sent(), (std::vector<TSent>{Info(2, 0), Frame(0), Frame(1),  // start
                                        Info(2, 0), Frame(0), Frame(1),  // desktop switch
                                        Info(3, 0), Frame(0), Frame(1), Frame(2)}));
  std::lock_guard Guard(Screen.Lock);
  EXPECT_EQ(Screen.CapturersMade, 7);
}

TEST_F(CaptureThread, AcknowledgementTimesSteerTheQuality) {
  FAutoAck = false;
  Screen.FrameSize = 30000;
  Start();
  std::size_t Count = 1;
  auto Frames = [&](std::uint32_t ADelay, int ACount) {
    for (int I = 0; I < ACount; ++I) AckAfter(++Count, ADelay);
  };
  Frames(300, 2);  // slow: 60, 50, 40
  Frames(150, 1);  // between 90 and 220 ms: unchanged
  Frames(220, 1);  // 220 ms is not slow
  Frames(90, 1);   // 90 ms is not fast
  Frames(300, 3);  // 30, 25 and not below
  Frames(50, 8);   // fast: up by 5 to 60 and not above
  ASSERT_TRUE(WaitSent(++Count));
  EXPECT_EQ(Qualities(), (std::vector<int>{60, 50, 40, 40, 40, 40, 30, 25, 25, 30, 35, 40, 45,
                                           50, 55, 60, 60}));

}

TEST_F(CaptureThread, FramesOf20000BytesOrLessLeaveTheQuality) {
  FAutoAck = false;
  Screen.FrameSize = 20000;
  Start();
  AckAfter(2, 300);
  // The second frame is out; the third is captured only after its acknowledgement.
  ASSERT_TRUE(WaitSent(3));
  {
    std::lock_guard Guard(Screen.Lock);
    Screen.FrameSize = 20001;
  }
  AckAfter(3, 300);
  AckAfter(4, 300);
  ASSERT_TRUE(WaitSent(5));
  EXPECT_EQ(Qualities(), (std::vector<int>{60, 60, 60, 50}));
}

TEST_F(CaptureThread, AViewerThatNeverAcknowledgesGetsOneFrameAndStopsNothing) {
  FAutoAck = false;
  Start();
  AckAfter(2, 0);
  EXPECT_EQ(NextPause(), 40u);
  Thread->FrameAcked();  // while no frame is out: dropped when the next frame goes
  Clock.Advance(40);
  ASSERT_TRUE(WaitSent(3));
  for (int I = 0; I < 10; ++I) {
    ASSERT_TRUE(Clock.WaitForWaiters(1));
    Clock.Advance(500);
  }
  EXPECT_EQ(Sent().size(), 3u);
  const auto Begin = std::chrono::steady_clock::now();
  Thread.reset();  // a wait for an acknowledgement ends at once
  EXPECT_LT(std::chrono::steady_clock::now() - Begin, 5s);
}

TEST_F(CaptureThread, AFailedSendOrACaptureErrorEndsTheLoop) {
  struct TCase {
    const char* Name;
    std::size_t FailAt;
    bool Throw;
    std::size_t SentBeforeEnd;
  };
  for (const TCase& Case : {TCase{"announcement", 1, false, 1}, TCase{"frame", 3, false, 3},
                            TCase{"capture", 0, true, 1}}) {
    SCOPED_TRACE(Case.Name);
    Stop();
    Screen.Monitors = 2;
    Screen.ThrowOnCapture = Case.Throw;
    FFailAt = Case.FailAt;
    Start();
    for (int I = 0; I < 100 && !Thread->Finished(); ++I) {
      Clock.Advance(40);
      Thread->WaitFinished(10);
    }
    EXPECT_TRUE(Thread->Finished());
    EXPECT_EQ(Sent().size(), Case.SentBeforeEnd);
    Screen.ThrowOnCapture = false;
  }
}

}  // namespace
}  // namespace halvora::test

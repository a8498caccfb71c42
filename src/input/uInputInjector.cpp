#include "input/uInputInjector.h"

#include <algorithm>
#include <cstdlib>

namespace halvora {

std::int32_t MulDiv(std::int32_t AValue, std::int32_t ANumerator, std::int32_t ADenominator) {
  if (ADenominator == 0) return -1;
  const std::int64_t Product = std::int64_t{AValue} * ANumerator;  // |Product| ≤ 2^62
  const bool Negative = (Product < 0) != (ADenominator < 0);
  const std::uint64_t Magnitude =
      Product < 0 ? std::uint64_t{0} - static_cast<std::uint64_t>(Product)
                  : static_cast<std::uint64_t>(Product);
  const std::uint64_t Divisor = static_cast<std::uint64_t>(std::llabs(ADenominator));
  // Adding half the divisor rounds halves up in magnitude, that is away from zero; with an
  // odd divisor no quotient is an exact half.
  const std::uint64_t Quotient = (Magnitude + Divisor / 2) / Divisor;
  if (Quotient > (Negative ? 0x80000000u : 0x7FFFFFFFu)) return -1;
  return Negative ? static_cast<std::int32_t>(std::int64_t{0} - static_cast<std::int64_t>(Quotient))
                  : static_cast<std::int32_t>(Quotient);
}

TPoint MonitorPixel(const TRect& AMonitor, std::uint16_t AX, std::uint16_t AY) {
  // A monitor without width or height maps everything onto its first pixel.
  const std::int32_t LastColumn = std::max(AMonitor.Right - AMonitor.Left - 1, 0);
  const std::int32_t LastRow = std::max(AMonitor.Bottom - AMonitor.Top - 1, 0);
  return {AMonitor.Left + MulDiv(AX, LastColumn, 65535), AMonitor.Top + MulDiv(AY, LastRow, 65535)};
}

TMouseAction MouseActionOf(std::uint8_t AAction) {
  return AAction <= static_cast<std::uint8_t>(TMouseAction::Wheel)
             ? static_cast<TMouseAction>(AAction)
             : TMouseAction::Move;
}

bool IsExtendedKey(std::uint16_t AVKey) {
  return (AVKey >= 33 && AVKey <= 40) ||  // Page Up, Page Down, End, Home, arrows
         (AVKey >= 44 && AVKey <= 46) ||  // Print Screen, Insert, Delete
         (AVKey >= 91 && AVKey <= 93) ||  // left and right Windows, Applications
         AVKey == 111 ||                  // numeric-pad divide
         AVKey == 144 ||                  // Num Lock
         AVKey == 163 ||                  // right Control
         AVKey == 165;                    // right Alt
}

void InjectMouse(IInputSink& ASink, const TMousePacket& AMouse, std::int32_t AMonitor) {
  const std::vector<TRect> Rects = ASink.GetMonitorRects();
  if (Rects.empty()) return;
  const std::int32_t Last = static_cast<std::int32_t>(Rects.size()) - 1;
  const TRect& Monitor = Rects[static_cast<std::size_t>(std::clamp(AMonitor, 0, Last))];
  const TMouseAction Action = MouseActionOf(AMouse.Action);
  const std::int32_t Wheel = Action == TMouseAction::Wheel ? AMouse.Wheel : 0;
  ASink.SendMouse(MonitorPixel(Monitor, AMouse.X, AMouse.Y), Action, Wheel);
}

void InjectKey(IInputSink& ASink, const TKeyPacket& AKey) {
  const std::uint16_t VKey = AKey.VKey;
  ASink.SendKey(VKey, AKey.Down != 0, IsExtendedKey(VKey));
}

void ReleaseHeldKeys(IInputSink& ASink) {
  for (const std::uint16_t VKey : ReleaseKeys)
    if (ASink.IsKeyDown(VKey)) ASink.SendKey(VKey, false, IsExtendedKey(VKey));
  ASink.FinishRelease();
}

TInputThread::TInputThread(TInputSinkFactory ANewSink, IClock& AClock, TMainQueue& AMainQueue)
    : TThread(AMainQueue), FNewSink(std::move(ANewSink)), FClock(AClock) {
  Start();
}

TInputThread::~TInputThread() {
  Terminate();
  FWake.SetEvent();
  StopThread();
}

void TInputThread::Post(const TInputItem& AItem) {
  {
    std::lock_guard Guard(FLock);
    FQueue.push_back(AItem);
  }
  FWake.SetEvent();
}

bool TInputThread::Take(TInputItem& AItem) {
  std::lock_guard Guard(FLock);
  if (FQueue.empty()) return false;
  AItem = FQueue.front();
  FQueue.pop_front();
  return true;
}

void TInputThread::Execute() {
  // Lives on this thread's stack, so the sink and its connections are freed here however
  // the loop ends.
  std::unique_ptr<IInputSink> Sink;
  while (!Terminated()) {
    FClock.WaitFor(FWake, WakeInterval);
    TInputItem Item;
    while (!Terminated() && Take(Item)) Handle(Sink, Item);
  }
}

void TInputThread::Handle(std::unique_ptr<IInputSink>& ASink, const TInputItem& AItem) {
  try {
    if (!ASink) {
      const std::uint32_t Now = FClock.GetTickCount();
      if (FSinkFailed && Now - FSinkFailedAt < SinkRetryInterval) return;
      FSinkFailed = true;
      FSinkFailedAt = Now;
      if (FNewSink) ASink = FNewSink();
      if (!ASink) return;
      FSinkFailed = false;
    }
    ASink->SwitchToInputDesktop();
    switch (AItem.Kind) {
      case ikMouse:
        InjectMouse(*ASink, AItem.Mouse, AItem.Monitor);
        break;
      case ikKey:
        InjectKey(*ASink, AItem.Key);
        break;
      case ikRelease:
        ReleaseHeldKeys(*ASink);
        break;
    }
  } catch (...) {
    // A failed item is dropped; the next one is handled as usual.
  }
}

namespace {

std::mutex GPlatformLock;
TInputSinkFactory GPlatform;  // guarded by GPlatformLock
bool GWorkerMade = false;     // guarded by GPlatformLock
std::once_flag GWorkerOnce;
TInputThread* GWorker = nullptr;

void FreeWorker() {
  delete GWorker;
  GWorker = nullptr;
}

TInputThread& Worker() {
  std::call_once(GWorkerOnce, [] {
    TInputSinkFactory Factory;
    {
      std::lock_guard Guard(GPlatformLock);
      Factory = GPlatform;
      GWorkerMade = true;
    }
    // The clock and the main queue exist before the exit handler is registered, so the
    // worker is freed at exit before they are.
    IClock& Clock = SystemClock();
    TMainQueue& Queue = MainQueue();
    GWorker = new TInputThread(std::move(Factory), Clock, Queue);
    std::atexit(FreeWorker);
  });
  return *GWorker;
}

}  // namespace

bool SetInputPlatform(TInputSinkFactory AFactory) {
  std::lock_guard Guard(GPlatformLock);
  if (GWorkerMade) return false;
  GPlatform = std::move(AFactory);
  return true;
}

void PostInput(const TInputItem& AItem) { Worker().Post(AItem); }

void QueueMouseInput(const TMousePacket& APacket, std::int32_t AMonitor) {
  TInputItem Item;
  Item.Kind = ikMouse;
  Item.Mouse = APacket;
  Item.Monitor = AMonitor;
  PostInput(Item);
}

void QueueKeyInput(const TKeyPacket& APacket) {
  TInputItem Item;
  Item.Kind = ikKey;
  Item.Key = APacket;
  PostInput(Item);
}

void QueueReleaseKeys() {
  TInputItem Item;
  Item.Kind = ikRelease;
  PostInput(Item);
}

}  // namespace halvora

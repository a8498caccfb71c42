#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "base/uClock.h"
#include "base/uEvent.h"
#include "base/uThread.h"
#include "base/uRect.h"
#include "input/uInputService.h"
#include "protocol/uProtocol.h"

namespace halvora {

// AValue × ANumerator / ADenominator with a 64-bit intermediate, rounded to the nearest
// integer with halves away from zero, as Win32's MulDiv; like it, -1 when ADenominator is 0
// or the result does not fit in 32 bits.
std::int32_t MulDiv(std::int32_t AValue, std::int32_t ANumerator, std::int32_t ADenominator);

// The pixel of monitor AMonitor (virtual-screen pixels) that wire coordinates AX, AY denote:
// 0 … 65535 span the monitor's first … last pixel column and row.
TPoint MonitorPixel(const TRect& AMonitor, std::uint16_t AX, std::uint16_t AY);

// What a pointer event does besides moving the pointer.
enum class TMouseAction : std::uint8_t {
  Move,
  LeftDown,
  LeftUp,
  RightDown,
  RightUp,
  MiddleDown,
  MiddleUp,
  Wheel
};

// The action of a wire action code; codes 8 to 255 are a pure move.
TMouseAction MouseActionOf(std::uint8_t AAction);

// Whether a Windows virtual-key code is injected with the extended-key flag.
bool IsExtendedKey(std::uint16_t AVKey);

// The keys that a release lets go of, tested in this order: Control, left and right Control,
// Shift, left and right Shift, Alt, left and right Windows. A held right Alt goes through the
// generic Alt code.
inline constexpr std::array<std::uint16_t, 9> ReleaseKeys = {0x11, 0xA2, 0xA3, 0x10, 0xA0,
                                                             0xA1, 0x12, 0x5B, 0x5C};

// Synthetic input of the windowing system. Made by the injection worker on its own thread
// and used there only, so a connection it holds belongs to that thread.
class IInputSink {
 public:
  virtual ~IInputSink() = default;
  // The monitors in virtual-screen pixels, in protocol order; normally at least one.
  virtual std::vector<TRect> GetMonitorRects() = 0;
  // Attaches the calling thread to the desktop that receives input (see uDesktop.h).
  virtual bool SwitchToInputDesktop() = 0;
  // One event: the pointer moves to APos (virtual-screen pixels, inside a monitor that the
  // last GetMonitorRects listed) and AAction happens there; AWheel, in 120ths of a notch and
  // positive away from the user, only with TMouseAction::Wheel, else 0.
  virtual void SendMouse(TPoint APos, TMouseAction AAction, std::int32_t AWheel) = 0;
  // One key event by Windows virtual-key code; codes the sink does not know are ignored.
  virtual void SendKey(std::uint16_t AVKey, bool ADown, bool AExtended) = 0;
  // Whether the key is down now, as Win32's GetAsyncKeyState reports it.
  virtual bool IsKeyDown(std::uint16_t AVKey) = 0;
  // Called after a release has let go of the held modifiers: frees whatever else injection
  // still holds (where a platform needs that; keys still down, keyboard mapping borrowed).
  virtual void FinishRelease() {}
};

// Makes the sink; called on the injection worker, which then owns it. May throw.
using TInputSinkFactory = std::function<std::unique_ptr<IInputSink>()>;

// The injection steps, run by the worker on its sink.
// Moves to (AX, AY) of monitor AMonitor (clamped to the list) and does the packet's action.
void InjectMouse(IInputSink& ASink, const TMousePacket& AMouse, std::int32_t AMonitor);
// Presses (Down ≠ 0) or releases the key.
void InjectKey(IInputSink& ASink, const TKeyPacket& AKey);
// Releases the keys of ReleaseKeys that are down, in that order, then lets the sink finish.
void ReleaseHeldKeys(IInputSink& ASink);

enum TInputKind : std::uint8_t { ikMouse = 0, ikKey = 1, ikRelease = 2 };

// One queued request; the fields its kind does not use are zero.
struct TInputItem {
  TInputKind Kind = ikMouse;
  TMousePacket Mouse{};      // ikMouse
  std::int32_t Monitor = 0;  // ikMouse: index into the monitor list
  TKeyPacket Key{};          // ikKey
};

// The injection worker: takes queued items strictly in the order they were posted and
// injects each through its sink, which it makes on its own thread when the first item comes.
// An exception while handling an item ends that item only. When the sink cannot be made, the
// items are dropped and making it is tried again at most once per SinkRetryInterval.
class TInputThread final : public TThread {
 public:
  // Starts at once.
  explicit TInputThread(TInputSinkFactory ANewSink, IClock& AClock = SystemClock(),
                        TMainQueue& AMainQueue = MainQueue());
  // Finishes the item in hand and discards the queued ones; the sink is freed on the worker.
  ~TInputThread() override;

  // Queues a copy of AItem; never waits for the injection. Callable from any thread.
  void Post(const TInputItem& AItem);

  static constexpr std::uint32_t WakeInterval = 500;        // ms; a time-out counts as a wake
  static constexpr std::uint32_t SinkRetryInterval = 1000;  // ms

 protected:
  void Execute() override;

 private:
  bool Take(TInputItem& AItem);
  void Handle(std::unique_ptr<IInputSink>& ASink, const TInputItem& AItem);

  const TInputSinkFactory FNewSink;
  IClock& FClock;
  std::mutex FLock;  // guards FQueue only
  TEvent FWake{false, false};
  // The items to inject. It hides the base's main-queue reference of the same name: this
  // thread queues nothing to the main thread.
  std::deque<TInputItem> FQueue;
  bool FSinkFailed = false;  // worker only
  std::uint32_t FSinkFailedAt = 0;
};

// The process-wide worker. SetInputPlatform names the sink factory; call it once at start-up,
// before the first request. False when the worker already exists (the call then changes
// nothing). Without a factory, requests are dropped.
bool SetInputPlatform(TInputSinkFactory AFactory);

// Queue a request to the process-wide worker, which the first one creates (exactly once, also
// when the first requests come from several threads at the same time). Callable from any
// thread; each costs one copy, one short lock and one event signal. The worker lives until
// the program exits.
void QueueMouseInput(const TMousePacket& APacket, std::int32_t AMonitor);
void QueueKeyInput(const TKeyPacket& APacket);
// Releases modifier keys that injected input left down (after a session ends, and when local
// input blocking begins).
void QueueReleaseKeys();

// The process-wide worker as the controller's input queue.
class TInputQueue final : public IInputQueue {
 public:
  void QueueMouseInput(const TMousePacket& APacket, std::int32_t AMonitor) override {
    halvora::QueueMouseInput(APacket, AMonitor);
  }
  void QueueKeyInput(const TKeyPacket& APacket) override { halvora::QueueKeyInput(APacket); }
  void QueueReleaseKeys() override { halvora::QueueReleaseKeys(); }
};
void PostInput(const TInputItem& AItem);

}  // namespace halvora

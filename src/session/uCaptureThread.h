#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "base/uClock.h"
#include "base/uEvent.h"
#include "base/uThread.h"
#include "capture/uScreenSource.h"
#include "capture/uCaptureService.h"

namespace halvora {

// Makes the screen source; called on the capture thread, which then owns what it returns.
using TScreenSourceFactory = std::function<std::unique_ptr<IScreenSource>()>;

// Streams the monitors to the viewer while a technician is admitted. Each pass announces
// the monitor count and selection (message 107) when they changed, captures the selected
// monitor, and the others once 100 ms have passed since their last capture; passes are at
// least 40 ms apart. Every frame (message 103) waits for the viewer's acknowledgement
// (message 104) before anything else is captured, and how long that took steers one JPEG
// quality for all monitors (TQualityPolicy). A failed send or a capture error ends the
// loop; the session goes on without frames.
class TCaptureThread final : public TThread, public ICaptureSession {
 public:
  // Starts at once. ASend sends one message and is called on the capture thread only.
  TCaptureThread(TSendPacketFunc ASend, TScreenSourceFactory ANewSource,
                 IClock& AClock = SystemClock());
  // Stops the loop (a wait for an acknowledgement ends at once) and joins it.
  ~TCaptureThread() override;

  // Both are called on the relay client's thread.
  void FrameAcked() override { FAck.SetEvent(); }
  void SelectMonitor(std::uint8_t AIndex) override { FMonitorIndex.store(AIndex); }

  static constexpr int MaxMonitors = 8;
  static constexpr std::uint32_t PassInterval = 40;      // ms between pass starts, at least
  static constexpr std::uint32_t OtherInterval = 100;    // ms between captures of the others
  static constexpr std::uint32_t AckWaitSlice = 200;     // ms; termination is checked between

 protected:
  void Execute() override;

 private:
  struct TLoop;
  bool CaptureAndSend(TLoop& ALoop, int AMonitor);

  const TSendPacketFunc FSend;
  const TScreenSourceFactory FNewSource;
  IClock& FClock;
  TEvent FAck{true, false};
  TEvent FStop{true, false};  // ends the pause between passes when the thread is stopped
  std::atomic<std::int32_t> FMonitorIndex{0};  // as requested; clamped where it is used
};

// Starts a capture thread over the relay client for every admitted technician.
class TCaptureFactory final : public ICaptureFactory {
 public:
  explicit TCaptureFactory(TScreenSourceFactory ANewSource) : FNewSource(std::move(ANewSource)) {}
  std::unique_ptr<ICaptureSession> Create(TSendPacketFunc ASend) override;

 private:
  TScreenSourceFactory FNewSource;
};

}  // namespace halvora

#include "session/uCaptureThread.h"

#include <algorithm>
#include <vector>

#include "capture/uQualityPolicy.h"
#include "protocol/uConnection.h"
#include "protocol/uMessages.h"

namespace halvora {

// What a run of the loop owns; it lives on the capture thread's stack, so the capturers and
// their windowing-system connections are freed there however the loop ends.
struct TCaptureThread::TLoop {
  std::unique_ptr<IScreenSource> Source;
  std::vector<std::unique_ptr<IScreenCapturer>> Capturers;
  std::vector<TRect> Rects;
  std::vector<std::uint32_t> LastCapture;  // tick count of each monitor's last capture
  TQualityPolicy Quality;
  TIdBytes Payload;
};

TCaptureThread::TCaptureThread(TSendPacketFunc ASend, TScreenSourceFactory ANewSource,
                               IClock& AClock)
    : FSend(std::move(ASend)), FNewSource(std::move(ANewSource)), FClock(AClock) {
  Start();
}

TCaptureThread::~TCaptureThread() {
  Terminate();
  FAck.SetEvent();
  FStop.SetEvent();
  StopThread();
}

void TCaptureThread::Execute() {
  TLoop Loop;
  Loop.Source = FNewSource();
  int AnnouncedCount = -1;
  int AnnouncedSelection = -1;
  while (!Terminated()) {
    const std::uint32_t T0 = FClock.GetTickCount();
    if (Loop.Source->SwitchToInputDesktop()) {
      Loop.Capturers.clear();
      AnnouncedCount = -1;
    }
    Loop.Rects = Loop.Source->GetMonitorRects();
    const int Count = std::min(static_cast<int>(Loop.Rects.size()), MaxMonitors);
    if (Count == 0) break;  // a source always lists one; never index an empty list
    const int Selected = std::clamp(FMonitorIndex.load(), 0, Count - 1);
    if (Count != AnnouncedCount) {
      Loop.Capturers.clear();
      for (int I = 0; I < Count; ++I) Loop.Capturers.push_back(Loop.Source->NewCapturer());
      Loop.LastCapture.assign(Count, 0);
    }
    if (Count != AnnouncedCount || Selected != AnnouncedSelection) {
      const TMonitorInfoMessage Info{static_cast<std::uint8_t>(Count),
                                     static_cast<std::uint8_t>(Selected)};
      if (!FSend(cmdMonitorInfo, Info.Encode())) break;
      AnnouncedCount = Count;
      AnnouncedSelection = Selected;
    }
    if (!CaptureAndSend(Loop, Selected)) break;
    bool Sent = true;
    for (int I = 0; Sent && I < Count && !Terminated(); ++I) {
      if (I != Selected && FClock.GetTickCount() - Loop.LastCapture[I] >= OtherInterval)
        Sent = CaptureAndSend(Loop, I);
    }
    if (!Sent) break;
    const std::uint32_t Elapsed = FClock.GetTickCount() - T0;
    if (Elapsed < PassInterval && !Terminated()) FClock.WaitFor(FStop, PassInterval - Elapsed);
  }
}

bool TCaptureThread::CaptureAndSend(TLoop& ALoop, int AMonitor) {
  ALoop.LastCapture[AMonitor] = FClock.GetTickCount();
  IScreenCapturer& Capturer = *ALoop.Capturers[AMonitor];
  Capturer.SetQuality(ALoop.Quality.Quality());
  if (!Capturer.CaptureChanges(ALoop.Rects[AMonitor], static_cast<std::uint8_t>(AMonitor),
                               ALoop.Payload))
    return true;
  // Reset before sending: an acknowledgement that comes before the wait still ends it, and
  // one that came while no frame was out is dropped here.
  FAck.ResetEvent();
  const std::uint32_t Ts = FClock.GetTickCount();
  if (!FSend(cmdFrame, ALoop.Payload)) return false;
  while (!Terminated()) {
    if (FClock.WaitFor(FAck, AckWaitSlice)) break;
  }
  ALoop.Quality.FrameAcked(FClock.GetTickCount() - Ts, ALoop.Payload.size());
  return true;
}

std::unique_ptr<ICaptureSession> TCaptureFactory::Create(TSendPacketFunc ASend) {
  return std::make_unique<TCaptureThread>(std::move(ASend), FNewSource);
}

}  // namespace halvora

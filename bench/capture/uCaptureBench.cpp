// Medians: run with --benchmark_repetitions=10 --benchmark_report_aggregates_only=true.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "capture/uScreenCapture.h"
#include "capture/x11/uX11Grabber.h"
#include "platform/x11/uX11Monitors.h"
#include "capture/x11/uX11ScreenSource.h"
#include "uCaptureTestSupport.h"

namespace halvora {
namespace {

constexpr int Width = 1920;
constexpr int Height = 1080;
constexpr TRect cArea{0, 0, Width, Height};

const test::TTestScreen& Screen() {
  static const test::TTestScreen Screen(Width, Height);
  return Screen;
}

// Lends a buffer that holds a copy of the test screen and never changes by itself, so a
// capture measures the comparison and encoding alone. Each grab reports Damage (everything
// unless a case says otherwise).
class TStillGrabber : public IScreenGrabber {
 public:
  TGrabBuffer Alloc(int, int) override {
    FBuffer = Screen().Pixels();
    return {FBuffer.data(), static_cast<std::size_t>(Width) * 4};
  }
  void Free() override {}
  bool Grab(TPoint, TDamageRegion& ADamage) override {
    ADamage = Damage;
    return true;
  }
  std::uint8_t* Pixel(int AX, int AY) { return &FBuffer[(AY * Width + AX) * 4]; }

  TDamageRegion Damage;

 private:
  std::vector<std::uint8_t> FBuffer;
};

struct TStillCapturer {
  TStillCapturer() : Capturer(std::unique_ptr<IScreenGrabber>(Grabber)) {
    Capturer.CaptureChanges(cArea, 0, Payload);
  }
  TStillGrabber* Grabber = new TStillGrabber;
  TScreenCapturer Capturer;
  TIdBytes Payload;
};

void BM_MemcmpWholeFrame(benchmark::State& AState) {
  const std::vector<std::uint8_t> A = Screen().Pixels(), B = Screen().Pixels();
  for (auto _ : AState) benchmark::DoNotOptimize(std::memcmp(A.data(), B.data(), A.size()));
}
BENCHMARK(BM_MemcmpWholeFrame)->Unit(benchmark::kMicrosecond);

void BM_UnchangedFrame(benchmark::State& AState) {
  TStillCapturer Still;
  for (auto _ : AState)
    if (Still.Capturer.CaptureChanges(cArea, 0, Still.Payload)) AState.SkipWithError("changed");
}
BENCHMARK(BM_UnchangedFrame)->Unit(benchmark::kMicrosecond);

// Three pixels change in three blocks; with ADamaged the grabber reports a 20 × 10 rectangle
// around each, so only those blocks are compared, else it reports everything.
void ThreeBlocksChanged(benchmark::State& AState, bool ADamaged) {
  TStillCapturer Still;
  const std::pair<int, int> Pixels[] = {{200, 150}, {900, 500}, {1700, 1000}};
  if (ADamaged) {
    Still.Grabber->Damage.SetNone();
    for (auto [X, Y] : Pixels) Still.Grabber->Damage.Rects.push_back({X - 5, Y - 5, X + 15, Y + 5});
  }
  for (auto _ : AState) {
    for (auto [X, Y] : Pixels) Still.Grabber->Pixel(X, Y)[1] ^= 0x55;
    if (!Still.Capturer.CaptureChanges(cArea, 0, Still.Payload)) AState.SkipWithError("no frame");
  }
}
void BM_ThreeBlocksChanged(benchmark::State& AState) {
  ThreeBlocksChanged(AState, false);
}
BENCHMARK(BM_ThreeBlocksChanged)->Unit(benchmark::kMicrosecond);
void BM_ThreeBlocksChangedInADamageRegion(benchmark::State& AState) {
  ThreeBlocksChanged(AState, true);
}
BENCHMARK(BM_ThreeBlocksChangedInADamageRegion)->Unit(benchmark::kMicrosecond);

// Moving the area by one pixel and back forces a full frame every time.
void BM_FullFrameQuality60(benchmark::State& AState) {
  TStillCapturer Still;
  int Shift = 0;
  for (auto _ : AState) {
    Shift ^= 1;
    Still.Capturer.CaptureChanges({Shift, 0, Shift + Width, Height}, 0, Still.Payload);
  }
  AState.counters["bytes"] = static_cast<double>(Still.Payload.size());
}
BENCHMARK(BM_FullFrameQuality60)->Unit(benchmark::kMillisecond);

void BM_TjCompress2Alone(benchmark::State& AState) {
  tjhandle Handle = tjInitCompress();
  unsigned char* Jpeg = nullptr;
  unsigned long Size = 0;
  for (auto _ : AState) {
    tjCompress2(Handle, Screen().Pixels().data(), Width, Width * 4, Height, TJPF_BGRX, &Jpeg,
                &Size, TJSAMP_420, 60, 0);
    benchmark::DoNotOptimize(Jpeg);
  }
  AState.counters["bytes"] = static_cast<double>(Size);
  tjFree(Jpeg);
  tjDestroy(Handle);
}
BENCHMARK(BM_TjCompress2Alone)->Unit(benchmark::kMillisecond);

// A capture of the primary monitor on the X server in DISPLAY while the screen stays as it
// is. With ADrawn, some client redraws one pixel as it was before each capture, so the server
// reports drawing and the area is copied and compared in full; without, the grabber knows
// from the server that nothing was drawn.
void X11StillScreen(benchmark::State& AState, bool ADrawn) {
  const TMonitorLayout Layout = GetMonitorLayout(*NewX11MonitorSource(""));
  TScreenCapturer Capturer(NewX11ScreenGrabber("", Layout.Origin));
  TIdBytes Payload;
  Capturer.CaptureChanges(Layout.Rects[0], 0, Payload);
  Display* Painter = XOpenDisplay(nullptr);
  const Window Root = DefaultRootWindow(Painter);
  XImage* Pixel = XGetImage(Painter, Root, Layout.Origin.X, Layout.Origin.Y, 1, 1, AllPlanes,
                            ZPixmap);
  GC Gc = DefaultGC(Painter, DefaultScreen(Painter));
  XSetForeground(Painter, Gc, XGetPixel(Pixel, 0, 0));
  XDestroyImage(Pixel);
  for (auto _ : AState) {
    if (ADrawn) {
      AState.PauseTiming();
      XDrawPoint(Painter, Root, Gc, Layout.Origin.X, Layout.Origin.Y);
      XSync(Painter, False);
      AState.ResumeTiming();
    }
    benchmark::DoNotOptimize(Capturer.CaptureChanges(Layout.Rects[0], 0, Payload));
  }
  XCloseDisplay(Painter);
  AState.SetLabel(std::to_string(Layout.Rects[0].Right) + "x" +
                  std::to_string(Layout.Rects[0].Bottom));
}
void BM_X11StillScreenNothingDrawn(benchmark::State& AState) { X11StillScreen(AState, false); }
void BM_X11StillScreenGrabAndCompare(benchmark::State& AState) { X11StillScreen(AState, true); }

// A capture pass over every monitor of the X server in DISPLAY (a still screen), as the
// capture loop makes it when the others' 100 ms are up.
void BM_X11PassOverAllMonitors(benchmark::State& AState) {
  const std::unique_ptr<IScreenSource> Source = NewX11ScreenSource("");
  const std::vector<TRect> Rects = Source->GetMonitorRects();
  std::vector<std::unique_ptr<IScreenCapturer>> Capturers;
  TIdBytes Payload;
  for (std::size_t I = 0; I < Rects.size(); ++I) {
    Capturers.push_back(Source->NewCapturer());
    Capturers[I]->CaptureChanges(Rects[I], static_cast<std::uint8_t>(I), Payload);
  }
  for (auto _ : AState)
    for (std::size_t I = 0; I < Rects.size(); ++I)
      benchmark::DoNotOptimize(
          Capturers[I]->CaptureChanges(Rects[I], static_cast<std::uint8_t>(I), Payload));
  AState.SetLabel(std::to_string(Rects.size()) + " monitors");
}

}  // namespace
}  // namespace halvora

int main(int argc, char** argv) {
  if (std::getenv("DISPLAY")) {
    benchmark::RegisterBenchmark("BM_X11StillScreenNothingDrawn",
                                 halvora::BM_X11StillScreenNothingDrawn)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_X11StillScreenGrabAndCompare",
                                 halvora::BM_X11StillScreenGrabAndCompare)
        ->Unit(benchmark::kMicrosecond);
  }
  if (std::getenv("DISPLAY"))
    benchmark::RegisterBenchmark("BM_X11PassOverAllMonitors", halvora::BM_X11PassOverAllMonitors)
        ->Unit(benchmark::kMicrosecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
}

#include "capture/x11/uX11ScreenSource.h"

#include "platform/uDesktop.h"
#include "capture/x11/uX11Grabber.h"
#include "platform/x11/uX11Monitors.h"

namespace halvora {

namespace {

// Grabs in root coordinates (a grabber with origin (0, 0)) at the virtual-screen origin the
// source last listed, so that capturers made before the primary monitor moved stay right.
class TOriginGrabber final : public IScreenGrabber {
 public:
  TOriginGrabber(std::unique_ptr<IScreenGrabber> ARootGrabber,
                 std::shared_ptr<const TPoint> AOrigin)
      : FRootGrabber(std::move(ARootGrabber)), FOrigin(std::move(AOrigin)) {}

  TGrabBuffer Alloc(int AWidth, int AHeight) override {
    return FRootGrabber->Alloc(AWidth, AHeight);
  }
  void Free() override { FRootGrabber->Free(); }
  bool Grab(TPoint AOrigin, TDamageRegion& ADamage) override {
    return FRootGrabber->Grab({AOrigin.X + FOrigin->X, AOrigin.Y + FOrigin->Y}, ADamage);
  }

 private:
  std::unique_ptr<IScreenGrabber> FRootGrabber;
  std::shared_ptr<const TPoint> FOrigin;
};

class TX11ScreenSource final : public IScreenSource {
 public:
  explicit TX11ScreenSource(const std::string& ADisplayName)
      : FDisplayName(ADisplayName), FMonitors(NewX11MonitorSource(ADisplayName)) {}

  std::vector<TRect> GetMonitorRects() override {
    TMonitorLayout Layout = GetMonitorLayout(*FMonitors);
    *FOrigin = Layout.Origin;
    return std::move(Layout.Rects);
  }

  bool SwitchToInputDesktop() override { return halvora::SwitchToInputDesktop(); }

  std::unique_ptr<IScreenCapturer> NewCapturer() override {
    return std::make_unique<TScreenCapturer>(std::make_unique<TOriginGrabber>(
        NewX11ScreenGrabber(FDisplayName, TPoint{0, 0}), FOrigin));
  }

 private:
  const std::string FDisplayName;
  std::unique_ptr<IMonitorSource> FMonitors;
  const std::shared_ptr<TPoint> FOrigin = std::make_shared<TPoint>();
};

}  // namespace

std::unique_ptr<IScreenSource> NewX11ScreenSource(const std::string& ADisplayName) {
  return std::make_unique<TX11ScreenSource>(ADisplayName);
}

}  // namespace halvora

#include "platform/x11/uX11Monitors.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>

#include "platform/x11/uX11Connection.h"

namespace halvora {

namespace {

class TX11MonitorSource : public IMonitorSource {
 public:
  explicit TX11MonitorSource(const std::string& ADisplayName)
      : FConnection(ADisplayName), FDisplay(FConnection.Handle()) {}

  std::vector<TListedMonitor> ListMonitors() override {
    std::vector<TListedMonitor> List;
    if (!ListRandrMonitors(List)) ListXineramaScreens(List);
    return List;
  }

  TRect ScreenArea() override {
    Window Root = 0;
    int X = 0, Y = 0;
    unsigned Width = 0, Height = 0, Border = 0, Depth = 0;
    XGetGeometry(FDisplay, DefaultRootWindow(FDisplay), &Root, &X, &Y, &Width, &Height, &Border,
                 &Depth);
    return {0, 0, static_cast<std::int32_t>(Width), static_cast<std::int32_t>(Height)};
  }

 private:
  // False when the server has no RandR 1.5 or lists no monitor.
  bool ListRandrMonitors(std::vector<TListedMonitor>& AList) {
    int Event = 0, Error = 0, Major = 0, Minor = 0;
    if (!XRRQueryExtension(FDisplay, &Event, &Error) ||
        !XRRQueryVersion(FDisplay, &Major, &Minor) || Major < 1 || (Major == 1 && Minor < 5))
      return false;
    int Count = 0;
    XRRMonitorInfo* Monitors = XRRGetMonitors(FDisplay, DefaultRootWindow(FDisplay), True, &Count);
    if (!Monitors) return false;
    for (int I = 0; I < Count; ++I) {
      const XRRMonitorInfo& M = Monitors[I];
      AList.push_back({{M.x, M.y, M.x + M.width, M.y + M.height}, M.primary != 0});
    }
    XRRFreeMonitors(Monitors);
    return !AList.empty();
  }

  void ListXineramaScreens(std::vector<TListedMonitor>& AList) {
    int Event = 0, Error = 0;
    if (!XineramaQueryExtension(FDisplay, &Event, &Error) || !XineramaIsActive(FDisplay)) return;
    int Count = 0;
    XineramaScreenInfo* Screens = XineramaQueryScreens(FDisplay, &Count);
    if (!Screens) return;
    for (int I = 0; I < Count; ++I) {
      const XineramaScreenInfo& S = Screens[I];
      AList.push_back({{S.x_org, S.y_org, S.x_org + S.width, S.y_org + S.height}, false});
    }
    XFree(Screens);
  }

  TX11Connection FConnection;
  Display* FDisplay;
};

}  // namespace

std::unique_ptr<IMonitorSource> NewX11MonitorSource(const std::string& ADisplayName) {
  return std::make_unique<TX11MonitorSource>(ADisplayName);
}

}  // namespace halvora

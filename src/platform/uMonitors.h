#pragma once

#include <vector>

#include "base/uRect.h"

namespace halvora {

// One monitor as the windowing system lists it, in its own coordinates (on X11 those of the
// root window).
struct TListedMonitor {
  TRect Area;
  bool Primary = false;
};

// The windowing system's list of monitors.
class IMonitorSource {
 public:
  virtual ~IMonitorSource() = default;
  // Every active monitor; may be empty, may hold the same area twice.
  virtual std::vector<TListedMonitor> ListMonitors() = 0;
  // The whole screen, standing in for the monitors when none are listed.
  virtual TRect ScreenArea() = 0;
};

// The monitors in virtual-screen pixels, in protocol order: the primary monitor first, at
// (0, 0), then the others from left to right and, at the same left edge, from top to
// bottom. Origin is the primary's top-left corner in the windowing system's coordinates, so
// a virtual-screen point P lies at P + Origin there.
struct TMonitorLayout {
  std::vector<TRect> Rects;
  TPoint Origin;
};

// Negative when AL sorts before AR, zero when they sort alike, positive otherwise.
int CompareMonitorRects(const TRect& AL, const TRect& AR);

// Arranges what ASource lists: the same area listed twice counts once; the primary is the
// one flagged so, else the one at the windowing system's (0, 0), else the first listed.
// Never empty: with nothing listed, the whole screen is the only monitor.
TMonitorLayout GetMonitorLayout(IMonitorSource& ASource);

inline std::vector<TRect> GetMonitorRects(IMonitorSource& ASource) {
  return GetMonitorLayout(ASource).Rects;
}

}  // namespace halvora

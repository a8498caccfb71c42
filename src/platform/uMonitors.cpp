#include "platform/uMonitors.h"

#include <algorithm>

namespace halvora {

int CompareMonitorRects(const TRect& AL, const TRect& AR) {
  const int OriginL = AL.Left == 0 && AL.Top == 0;
  const int OriginR = AR.Left == 0 && AR.Top == 0;
  if (OriginR != OriginL) return OriginR - OriginL;
  if (AL.Left != AR.Left) return AL.Left < AR.Left ? -1 : 1;
  if (AL.Top != AR.Top) return AL.Top < AR.Top ? -1 : 1;
  return 0;
}

TMonitorLayout GetMonitorLayout(IMonitorSource& ASource) {
  std::vector<TListedMonitor> Listed;
  for (const TListedMonitor& Monitor : ASource.ListMonitors()) {
    auto Same = std::find_if(Listed.begin(), Listed.end(), [&](const TListedMonitor& AKept) {
      return AKept.Area == Monitor.Area;
    });
    if (Same == Listed.end())
      Listed.push_back(Monitor);
    else
      Same->Primary = Same->Primary || Monitor.Primary;
  }
  if (Listed.empty()) Listed.push_back({ASource.ScreenArea(), true});

  auto Primary = std::find_if(Listed.begin(), Listed.end(),
                              [](const TListedMonitor& AMonitor) { return AMonitor.Primary; });
  if (Primary == Listed.end())
    Primary = std::find_if(Listed.begin(), Listed.end(), [](const TListedMonitor& AMonitor) {
      return AMonitor.Area.Left == 0 && AMonitor.Area.Top == 0;
    });
  if (Primary == Listed.end()) Primary = Listed.begin();

  TMonitorLayout Layout;
  Layout.Origin = {Primary->Area.Left, Primary->Area.Top};
  for (const TListedMonitor& Monitor : Listed)
    Layout.Rects.push_back({Monitor.Area.Left - Layout.Origin.X, Monitor.Area.Top - Layout.Origin.Y,
                            Monitor.Area.Right - Layout.Origin.X,
                            Monitor.Area.Bottom - Layout.Origin.Y});
  std::sort(Layout.Rects.begin(), Layout.Rects.end(),
            [](const TRect& AL, const TRect& AR) { return CompareMonitorRects(AL, AR) < 0; });
  return Layout;
}

}  // namespace halvora

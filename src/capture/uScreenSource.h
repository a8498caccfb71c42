#pragma once

#include <memory>
#include <vector>

#include "base/uRect.h"
#include "capture/uScreenCapture.h"

namespace halvora {

// The screen as the capture loop sees it. Made and used on the capture thread only, so a
// windowing-system connection it holds belongs to that thread.
class IScreenSource {
 public:
  virtual ~IScreenSource() = default;
  // The monitors in virtual-screen pixels, in protocol order, at least one.
  virtual std::vector<TRect> GetMonitorRects() = 0;
  // True when the calling thread was moved to another input desktop, so that what it
  // captured from the old one must be made anew.
  virtual bool SwitchToInputDesktop() = 0;
  // An empty capturer for one monitor; its first capture is a full frame.
  virtual std::unique_ptr<IScreenCapturer> NewCapturer() = 0;
};

}  // namespace halvora

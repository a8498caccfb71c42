#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "base/uRect.h"

namespace halvora {

// Screen capture failed in a way the capturer cannot go on from; what() is Portuguese.
class EScreenCapture : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The pixel memory a grabber lends to the capturer: rows top-down, Pitch bytes apart, each
// pixel four bytes (blue, green, red and one without colour).
struct TGrabBuffer {
  std::uint8_t* Bits = nullptr;
  std::size_t Pitch = 0;
};

// What may have changed in a grab buffer since the grab before: everything, or the pixels in
// Rects (buffer coordinates; they may overlap one another and reach past the buffer's edges).
struct TDamageRegion {
  bool Everything = true;
  std::vector<TRect> Rects;  // empty when Everything

  void SetEverything() {
    Everything = true;
    Rects.clear();
  }
  void SetNone() {
    Everything = false;
    Rects.clear();
  }
};

// The windowing system's part of screen capture. One object serves one capturer on one thread.
class IScreenGrabber {
 public:
  virtual ~IScreenGrabber() = default;
  // Replaces any earlier buffer by one of AWidth × AHeight pixels; Bits is null when none
  // can be made.
  virtual TGrabBuffer Alloc(int AWidth, int AHeight) = 0;
  virtual void Free() = 0;
  // Copies the area of the buffer's size whose top-left corner is AOrigin (virtual-screen
  // pixels) into the buffer and draws the pointer in at its hot spot. A copy that fails
  // leaves the buffer as it was. False when the grabber knows that the buffer already holds
  // the area as it is now (nothing was drawn and the pointer stayed), so it was not copied.
  // Otherwise ADamage gets where the buffer may differ from what it held after the grab
  // before: pixels outside it are as they were. A grabber that cannot tell reports
  // everything, and so does the first grab after Alloc.
  virtual bool Grab(TPoint AOrigin, TDamageRegion& ADamage) = 0;
};

}  // namespace halvora

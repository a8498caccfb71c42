#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/uBytes.h"
#include "base/uRect.h"
#include "capture/uScreenGrabber.h"

namespace halvora::test {

// A screen in memory: BGRX pixels, rows Width × 4 bytes, filled with soft gradients and
// flat boxes, much like a desktop.
class TTestScreen {
 public:
  TTestScreen(int AWidth, int AHeight);
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  std::uint8_t* Pixel(int AX, int AY) {
    return &FPixels[(static_cast<std::size_t>(AY) * FWidth + AX) * 4];
  }
  const std::uint8_t* Pixel(int AX, int AY) const {
    return &FPixels[(static_cast<std::size_t>(AY) * FWidth + AX) * 4];
  }
  // Changes byte AByte (0 blue … 3 unused) of the pixel at (AX, AY).
  void Touch(int AX, int AY, int AByte = 1) { Pixel(AX, AY)[AByte] ^= 0x20; }
  const std::vector<std::uint8_t>& Pixels() const { return FPixels; }

 private:
  int FWidth, FHeight;
  std::vector<std::uint8_t> FPixels;
};

// Grabs from a TTestScreen (virtual-screen coordinates = screen coordinates) into a buffer
// whose rows are APadding bytes longer than the pixels, the padding full of junk. Every grab
// copies the whole area and reports FDamage, but the first after Alloc reports everything.
class TFakeGrabber : public IScreenGrabber {
 public:
  explicit TFakeGrabber(const TTestScreen& AScreen, std::size_t APadding = 28)
      : FScreen(AScreen), FPadding(APadding) {}
  TGrabBuffer Alloc(int AWidth, int AHeight) override;
  void Free() override { FBuffer.clear(); }
  bool Grab(TPoint AOrigin, TDamageRegion& ADamage) override;

  bool FFailAlloc = false;
  bool FClaimUnchanged = false;  // Grab copies nothing and reports the buffer as unchanged
  TDamageRegion FDamage;         // what Grab reports; everything unless a test says otherwise
  int FAllocs = 0;

 private:
  const TTestScreen& FScreen;
  std::size_t FPadding;
  std::vector<std::uint8_t> FBuffer;
  int FWidth = 0, FHeight = 0;
  std::size_t FPitch = 0;
  bool FFresh = false;  // no grab since Alloc
};

struct TDecodedTile {
  TRect Rect;  // relative to the area
  std::size_t JpegBytes = 0;
  std::vector<std::uint8_t> Bgrx;  // decoded, rows Rect width × 4 bytes
};

struct TDecodedFrame {
  int Monitor = 0, Width = 0, Height = 0;
  std::vector<TDecodedTile> Tiles;
  std::vector<TRect> Rects() const;
};

// Parses a frame payload and decodes every tile with TurboJPEG; throws std::runtime_error
// when the payload is malformed: lengths that do not add up, a tile outside the area, a
// JPEG that does not decode or has another size than its tile.
TDecodedFrame DecodeFrame(const TIdBytes& APayload);

// Peak signal-to-noise ratio in dB of ATile's colour against AScreen, the area's top-left
// corner being at AOrigin on the screen.
double TilePsnr(const TDecodedTile& ATile, const TTestScreen& AScreen, TPoint AOrigin);

}  // namespace halvora::test

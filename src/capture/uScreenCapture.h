#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/uBytes.h"
#include "capture/uJpegEncoder.h"
#include "base/uRect.h"
#include "capture/uScreenGrabber.h"

namespace halvora {

// Change capture of one monitor, as the capture loop uses it.
class IScreenCapturer {
 public:
  virtual ~IScreenCapturer() = default;
  // AArea in virtual-screen pixels. True when a frame was produced into APayload; false,
  // with APayload empty, when nothing changed or the area is empty.
  virtual bool CaptureChanges(const TRect& AArea, std::uint8_t AMonitor, TIdBytes& APayload) = 0;
  // JPEG quality of the next frames, 1 to 100; 0 or less means 60.
  virtual void SetQuality(int AQuality) = 0;
};

// Watches one monitor: each CaptureChanges grabs the monitor's area, compares it with the
// image last sent in blocks of 64 × 64 pixels (only the blocks that the grabber's damage
// region reaches), joins the changed blocks into rectangles and encodes each as a JPEG tile.
// The result is the payload of a frame message:
//   header: monitor (1 byte), width (2), height (2), tile count N (2)
//   N tiles: x (2), y (2), width (2), height (2), JPEG length L (4), L bytes of JPEG
// integers little-endian, tile positions relative to the area's top-left corner.
// Used by one thread only.
class TScreenCapturer final : public IScreenCapturer {
 public:
  explicit TScreenCapturer(std::unique_ptr<IScreenGrabber> AGrabber);
  ~TScreenCapturer() override;
  TScreenCapturer(const TScreenCapturer&) = delete;
  TScreenCapturer& operator=(const TScreenCapturer&) = delete;

  // Throws EScreenCapture when no buffer can be made.
  bool CaptureChanges(const TRect& AArea, std::uint8_t AMonitor, TIdBytes& APayload) override;
  void SetQuality(int AQuality) override { FQuality = AQuality; }

 private:
  void AllocBuffers(int AWidth, int AHeight);
  void FreeBuffers();
  void FindChangedRects(std::vector<TRect>& AList);
  void MarkTouched(int AColumns, int ARows);
  void MarkBlockRow(int AY0, int AY1, const std::uint8_t* ATouched);
  void WriteTile(const TRect& ARect, TIdBytes& AStream);
  void KeepSent(const TRect& ARect);
  const std::uint8_t* Row(int AY) const { return FBits + static_cast<std::size_t>(AY) * FPitch; }
  std::uint8_t* PrevRow(int AY) { return FPrev.get() + static_cast<std::size_t>(AY) * FWidth * 4; }

  std::unique_ptr<IScreenGrabber> FGrabber;
  int FWidth = 0;
  int FHeight = 0;
  TPoint FOrigin;
  std::uint8_t* FBits = nullptr;  // lent by the grabber
  std::size_t FPitch = 0;
  // The image as the viewer has it: the tiles sent, each as it was grabbed. Rows FWidth × 4
  // bytes.
  std::unique_ptr<std::uint8_t[]> FPrev;
  bool FForceFull = false;
  int FQuality = 0;
  TDamageRegion FDamage;               // as the last grab reported it
  std::vector<std::uint8_t> FTouched;  // one flag per block, row by row: the damage reaches it
  std::vector<std::uint8_t> FChanged;  // one flag per block column of the current block row
  TJpegEncoder FEncoder;
};

}  // namespace halvora

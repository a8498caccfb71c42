#pragma once

#include <string>
#include <vector>

#include "uCanvas.h"
#include "uWire.h"

namespace halvora::viewer {

// What one screen frame did; the header fields are set once the header was complete.
struct TFrameResult {
  bool Ok = false;
  int Monitor = -1, Width = 0, Height = 0, Tiles = 0;
  std::string Error;  // the first fault, empty when Ok
};

// Applies screen frames (a 7-byte header, then tile records with JPEG data) to the canvas of
// their monitor. A frame whose structure is broken changes nothing; a tile whose JPEG cannot
// be decoded is skipped and reported while the other tiles are still applied.
class TFrameDecoder {
 public:
  TFrameDecoder();
  ~TFrameDecoder();
  TFrameDecoder(const TFrameDecoder&) = delete;
  TFrameDecoder& operator=(const TFrameDecoder&) = delete;

  TFrameResult Apply(TCanvasSet& ACanvases, const TBytes& APayload);

 private:
  std::string DecodeTile(const TFrameTile& ATile);  // into FRgb; empty on success
  std::string TryDecode(const TFrameTile& ATile);

  void* FHandle;
  std::vector<std::uint8_t> FRgb;
};

}  // namespace halvora::viewer

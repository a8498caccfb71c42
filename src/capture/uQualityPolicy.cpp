#include "capture/uQualityPolicy.h"

#include <algorithm>

namespace halvora {

namespace {

constexpr int cCeiling = 60;
constexpr int cFloor = 25;
constexpr int cStepDown = 10;
constexpr int cStepUp = 5;
constexpr std::uint32_t cSlowAck = 220;     // ms; slower lowers the quality
constexpr std::uint32_t cFastAck = 90;      // ms; faster raises it
constexpr std::size_t cLargeFrame = 20000;  // bytes; only larger frames say how the link is

}  // namespace

TQualityPolicy::TQualityPolicy() : FQuality(cCeiling) {}

void TQualityPolicy::FrameAcked(std::uint32_t AAckTime, std::size_t AFrameBytes) {
  if (AFrameBytes <= cLargeFrame) return;
  if (AAckTime > cSlowAck)
    FQuality = std::max(FQuality - cStepDown, cFloor);
  else if (AAckTime < cFastAck)
    FQuality = std::min(FQuality + cStepUp, cCeiling);
}

}  // namespace halvora

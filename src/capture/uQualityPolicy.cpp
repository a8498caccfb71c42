#include "capture/uQualityPolicy.h"

#include <algorithm>

namespace halvora {

namespace {

constexpr int Ceiling = 60;
constexpr int Floor = 25;
constexpr int StepDown = 10;
constexpr int StepUp = 5;
constexpr std::uint32_t SlowAck = 220;     // ms; slower lowers the quality
constexpr std::uint32_t FastAck = 90;      // ms; faster raises it
constexpr std::size_t LargeFrame = 20000;  // bytes; only larger frames say how the link is

}  // namespace

TQualityPolicy::TQualityPolicy() : FQuality(Ceiling) {}

void TQualityPolicy::FrameAcked(std::uint32_t AAckTime, std::size_t AFrameBytes) {
  if (AFrameBytes <= LargeFrame) return;
  if (AAckTime > SlowAck)
    FQuality = std::max(FQuality - StepDown, Floor);
  else if (AAckTime < FastAck)
    FQuality = std::min(FQuality + StepUp, Ceiling);
}

}  // namespace halvora

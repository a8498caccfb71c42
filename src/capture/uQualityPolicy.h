#pragma once

#include <cstddef>
#include <cstdint>

namespace halvora {

// The JPEG quality of the next frames, steered by how long a large frame took from being sent
// to the viewer's acknowledgement: slower than 220 ms lowers it by 10, down to 25; faster than
// 90 ms raises it by 5, up to 60; frames of 20,000 bytes or fewer leave it as it is. Starts at
// 60. Holds no clock: the caller measures the time.
class TQualityPolicy {
 public:
  TQualityPolicy();
  int Quality() const { return FQuality; }
  // A frame of AFrameBytes bytes was acknowledged AAckTime ms after it was sent.
  void FrameAcked(std::uint32_t AAckTime, std::size_t AFrameBytes);

 private:
  int FQuality;
};

}  // namespace halvora

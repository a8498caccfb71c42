#pragma once

#include <cstdint>

namespace halvora {

struct TPoint {
  std::int32_t X = 0;
  std::int32_t Y = 0;
  bool operator==(const TPoint&) const = default;
};

// A rectangle in pixels; Right and Bottom are exclusive.
struct TRect {
  std::int32_t Left = 0;
  std::int32_t Top = 0;
  std::int32_t Right = 0;
  std::int32_t Bottom = 0;
  bool operator==(const TRect&) const = default;
};

}  // namespace halvora

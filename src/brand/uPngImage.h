#pragma once

#include <cstdint>
#include <optional>

#include "base/uBytes.h"

namespace halvora {

struct TPngSize {
  std::uint32_t Width = 0, Height = 0;
};

// Largest logo file and side accepted: enough for any logo, small enough that decoding a
// hostile file cannot exhaust memory.
inline constexpr std::size_t MaxPngBytes = 8 * 1024 * 1024;
inline constexpr std::uint32_t MaxPngSide = 4096;

// The size of APng when it is a PNG image that decodes to its end within those limits;
// empty otherwise (not a PNG, truncated, damaged, too large).
std::optional<TPngSize> PngSize(const TIdBytes& APng);

}  // namespace halvora

#pragma once

#include <cstdint>
#include <vector>

namespace halvora {

// Counted byte array: every message payload is one; an empty payload is an empty array.
using TIdBytes = std::vector<std::uint8_t>;

}  // namespace halvora

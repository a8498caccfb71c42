#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace halvora {

// SHA-256 (FIPS 180-4) of AData.
std::array<std::uint8_t, 32> Sha256(std::string_view AData);

// The same digest as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view AData);

}  // namespace halvora

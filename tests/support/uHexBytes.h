#pragma once

#include <string_view>

#include "base/uBytes.h"

namespace halvora::test {

// The bytes AText spells in hexadecimal digits, two per byte, either case; false (ABytes
// unchanged) for an odd count or any other character.
bool ParseHex(std::string_view AText, TIdBytes& ABytes);

}  // namespace halvora::test

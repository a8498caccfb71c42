#pragma once

#include "base/uBytes.h"

namespace halvora {

// Images compiled into the program, as PNG files.
const TIdBytes& BuiltInLogoPng();     // "LOGO": the 56 x 56 mark shown when no brand is set
const TIdBytes& ApplicationIconPng();  // 256 x 256, scaled down for the window and the tray

}  // namespace halvora

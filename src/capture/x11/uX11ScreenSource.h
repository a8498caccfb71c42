#pragma once

#include <memory>
#include <string>

#include "capture/uScreenSource.h"

namespace halvora {

// The X screen for the capture loop (ADisplayName as for XOpenDisplay, empty for the
// DISPLAY variable). Capturers grab through XShm with the pointer drawn in; they follow the
// primary monitor when it moves on the root window, since virtual-screen (0, 0) moves with
// it. Throws EPlatformError when the server cannot be reached.
std::unique_ptr<IScreenSource> NewX11ScreenSource(const std::string& ADisplayName);

}  // namespace halvora

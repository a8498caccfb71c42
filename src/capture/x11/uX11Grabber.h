#pragma once

#include <memory>
#include <string>

#include "capture/uScreenGrabber.h"

namespace halvora {

// A grabber of the X root window over a connection of its own (ADisplayName as for
// XOpenDisplay, empty for the DISPLAY variable). It copies through a shared-memory image
// when the server allows one, else through XGetImage (always so when AAllowShm is false),
// keeps the part of an area that lies off the root as it was, and draws in the pointer that
// XFixes reports. AVirtualOrigin is the root position of virtual-screen (0, 0), the primary
// monitor's top-left corner. Throws EScreenCapture when the server cannot be reached or its
// pixels are not 32-bit BGRX TrueColor (depth 24 or 32).
std::unique_ptr<IScreenGrabber> NewX11ScreenGrabber(const std::string& ADisplayName,
                                                    TPoint AVirtualOrigin, bool AAllowShm = true);

}  // namespace halvora

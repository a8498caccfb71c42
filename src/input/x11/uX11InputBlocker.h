#pragma once

#include <memory>
#include <string>

#include "input/uInputBlocker.h"

namespace halvora {

// Local input blocking on the X server ADisplayName (as for XOpenDisplay; empty means the
// DISPLAY variable), on an X connection of its own: every enabled physical slave device is
// grabbed through XInput2, so its events come to this connection and are dropped, while the
// XTEST devices, which carry injected input, stay free. Devices enabled later are grabbed as
// they come. The installation fails when any physical device cannot be grabbed (for example
// when another client holds it) or when there is none. The X server ends the grabs itself
// when this process goes. Call it on the block thread (as the TInputBlocker factory); throws
// EPlatformError when the server cannot be reached.
std::unique_ptr<IInputBlock> NewX11InputBlock(const std::string& ADisplayName);

}  // namespace halvora

#pragma once

#include <memory>
#include <string>

#include "platform/uMonitors.h"

namespace halvora {

// The monitors of an X screen in root-window coordinates, over a connection of its own
// (ADisplayName as for XOpenDisplay, empty for the DISPLAY variable): the active RandR 1.5
// monitors, else the Xinerama screens, else none, the root window then standing for the one
// monitor. Throws EPlatformError when the server cannot be reached.
std::unique_ptr<IMonitorSource> NewX11MonitorSource(const std::string& ADisplayName);

}  // namespace halvora

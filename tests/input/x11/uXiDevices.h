#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <string>

namespace halvora::test {

// The XInput2 id of the device named AName; -1 when there is none.
inline int DeviceId(Display* ADisplay, const std::string& AName) {
  int Count = 0, Id = -1;
  XIDeviceInfo* Info = XIQueryDevice(ADisplay, XIAllDevices, &Count);
  for (int I = 0; I < Count; ++I)
    if (AName == Info[I].name) Id = Info[I].deviceid;
  XIFreeDeviceInfo(Info);
  return Id;
}

}  // namespace halvora::test

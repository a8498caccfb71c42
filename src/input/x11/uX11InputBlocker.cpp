#include "input/x11/uX11InputBlocker.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <set>
#include <system_error>
#include <vector>

#include "platform/x11/uX11Connection.h"

namespace halvora {

namespace {

// A physical slave device as listed now.
struct TDevice {
  int Id;
  bool Attached;  // sends its events through a master device as well
};

class TX11InputBlock final : public IInputBlock {
 public:
  explicit TX11InputBlock(const std::string& ADisplayName);
  ~TX11InputBlock() override;

  bool Install() override;
  void Run() override;
  void Stop() override;
  void Remove() override;

 private:
  std::vector<TDevice> PhysicalDevices();
  bool IsXTestDevice(int ADeviceId);
  bool Grab(int ADeviceId);
  bool GrabDevices();
  void HandleEvents();

  TX11Connection FConnection;
  Display* const FDisplay;
  const Window FRoot;
  const int FWake;  // eventfd; readable once Stop was called
  int FOpcode = 0;
  bool FTouch = false;  // the server speaks XInput 2.2, so touch events can be grabbed too
  Atom FXTestProperty = None;
  std::set<int> FHeld;  // devices grabbed by this connection
};

TX11InputBlock::TX11InputBlock(const std::string& ADisplayName)
    : FConnection(ADisplayName),
      FDisplay(FConnection.Handle()),
      FRoot(DefaultRootWindow(FDisplay)),
      FWake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
  if (FWake < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

TX11InputBlock::~TX11InputBlock() { close(FWake); }

bool TX11InputBlock::Install() {
  int Event, Error;
  if (!XQueryExtension(FDisplay, "XInputExtension", &FOpcode, &Event, &Error)) return false;
  int Major = 2, Minor = 2;
  if (XIQueryVersion(FDisplay, &Major, &Minor) != Success || Major < 2) return false;
  FTouch = Major > 2 || Minor >= 2;
  FXTestProperty = XInternAtom(FDisplay, "XTEST Device", True);
  // Hierarchy changes are selected before the devices are listed, so that none enabled in
  // between is missed.
  unsigned char Bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(Bits, XI_HierarchyChanged);
  XIEventMask Mask{XIAllDevices, sizeof Bits, Bits};
  XISelectEvents(FDisplay, FRoot, &Mask, 1);
  if (!FConnection.Sync()) return false;
  // Partial blocking counts as failure: the user asked for the local input to be blocked,
  // and a device left free would make that report untrue. A server without any physical
  // device is not one this block understands, so that fails as well.
  return GrabDevices() && !FHeld.empty();
}

std::vector<TDevice> TX11InputBlock::PhysicalDevices() {
  std::vector<TDevice> Devices;
  int Count = 0;
  XIDeviceInfo* Info = XIQueryDevice(FDisplay, XIAllDevices, &Count);
  for (int I = 0; I < Count; ++I) {
    const XIDeviceInfo& D = Info[I];
    const bool Slave =
        D.use == XISlavePointer || D.use == XISlaveKeyboard || D.use == XIFloatingSlave;
    if (Slave && D.enabled && !IsXTestDevice(D.deviceid))
      Devices.push_back({D.deviceid, D.use != XIFloatingSlave});
  }
  if (Info) XIFreeDeviceInfo(Info);
  return Devices;
}

// The server marks the slave devices that carry XTEST input (one pointer and one keyboard
// per master) with this property; they carry the technician's input and stay free.
bool TX11InputBlock::IsXTestDevice(int ADeviceId) {
  if (FXTestProperty == None) return false;
  Atom Type = None;
  int Format = 0;
  unsigned long Items = 0, After = 0;
  unsigned char* Data = nullptr;
  const Status Result = XIGetProperty(FDisplay, ADeviceId, FXTestProperty, 0, 1, False,
                                      AnyPropertyType, &Type, &Format, &Items, &After, &Data);
  if (Data) XFree(Data);
  return Result == Success && Type != None;
}

// Grabs one slave device with all its input events sent to this connection. While grabbed,
// an attached slave is cut off from its master, so nothing else sees its input; the server
// reattaches it when the grab ends, also when this connection closes.
bool TX11InputBlock::Grab(int ADeviceId) {
  unsigned char Bits[XIMaskLen(XI_LASTEVENT)] = {};
  for (int Type : {XI_KeyPress, XI_KeyRelease, XI_ButtonPress, XI_ButtonRelease, XI_Motion})
    XISetMask(Bits, Type);
  if (FTouch)
    for (int Type : {XI_TouchBegin, XI_TouchUpdate, XI_TouchEnd}) XISetMask(Bits, Type);
  XIEventMask Mask{ADeviceId, sizeof Bits, Bits};
  const Status Result = XIGrabDevice(FDisplay, ADeviceId, FRoot, CurrentTime, None,
                                     GrabModeAsync, GrabModeAsync, False, &Mask);
  // libXi reports success when the request failed with an error; the connection knows.
  return FConnection.Sync() && Result == GrabSuccess;
}

// Grabs every physical device not held yet, and again every held one that is attached to a
// master (being disabled and enabled, or reattached, joins it to its master again while the
// grab stays, so its input would pass). False when any of them could not be grabbed.
bool TX11InputBlock::GrabDevices() {
  bool All = true;
  for (const TDevice& Device : PhysicalDevices()) {
    if (FHeld.count(Device.Id) && !Device.Attached) continue;
    if (Grab(Device.Id))
      FHeld.insert(Device.Id);
    else
      All = false;
  }
  return All;
}

void TX11InputBlock::Run() {
  for (;;) {
    HandleEvents();
    pollfd Fds[2] = {{ConnectionNumber(FDisplay), POLLIN, 0}, {FWake, POLLIN, 0}};
    if (poll(Fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (Fds[1].revents != 0) return;
    if (Fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
      // The server is gone. Reading lets Xlib handle the broken connection (its default
      // handler ends the process); should it return, the loop ends instead of spinning.
      HandleEvents();
      return;
    }
  }
}

// Reads what the server sent: input of the grabbed devices is dropped; a change of the device
// hierarchy (a device added, enabled or reattached) leads to grabbing what is not held.
void TX11InputBlock::HandleEvents() {
  while (XPending(FDisplay) > 0) {
    XEvent Event;
    XNextEvent(FDisplay, &Event);
    XGenericEventCookie& Cookie = Event.xcookie;
    if (Cookie.type != GenericEvent || Cookie.extension != FOpcode ||
        Cookie.evtype != XI_HierarchyChanged || !XGetEventData(FDisplay, &Cookie))
      continue;
    const auto* Change = static_cast<const XIHierarchyEvent*>(Cookie.data);
    for (int I = 0; I < Change->num_info; ++I)
      if (Change->info[I].flags & XISlaveRemoved) FHeld.erase(Change->info[I].deviceid);
    XFreeEventData(FDisplay, &Cookie);
    // A device that cannot be grabbed now is tried again at the next change.
    GrabDevices();
  }
}

void TX11InputBlock::Stop() {
  const std::uint64_t One = 1;
  if (write(FWake, &One, sizeof One) < 0) {
    // The counter is full only after a great many stops; it is readable then anyway.
  }
}

void TX11InputBlock::Remove() {
  for (int Id : FHeld) XIUngrabDevice(FDisplay, Id, CurrentTime);
  FConnection.Sync();  // a device gone meanwhile makes its ungrab fail, which is fine
  FHeld.clear();
}

}  // namespace

std::unique_ptr<IInputBlock> NewX11InputBlock(const std::string& ADisplayName) {
  return std::make_unique<TX11InputBlock>(ADisplayName);
}

}  // namespace halvora

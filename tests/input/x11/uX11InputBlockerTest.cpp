#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "platform/x11/uX11Connection.h"
#include "input/uInputBlocker.h"
#include "input/x11/uX11InputBlocker.h"
#include "support/linux/uChildProcess.h"
#include "support/linux/uXvfb.h"
#include "uXiDevices.h"

namespace halvora {
namespace {

using test::TXvfb;
using test::DeviceId;
using test::WaitUntil;

enum TKind { kKey, kButton, kMotion };
const TKind cKinds[] = {kKey, kButton, kMotion};

TInputBlockFactory X11Factory(const std::string& ADisplay) {
  return [ADisplay] { return NewX11InputBlock(ADisplay); };
}

Status GrabDevice(Display* ADisplay, int ADeviceId) {
  unsigned char Bits[XIMaskLen(XI_LASTEVENT)] = {};
  XISetMask(Bits, XI_KeyPress);
  XIEventMask Mask{ADeviceId, sizeof Bits, Bits};
  return XIGrabDevice(ADisplay, ADeviceId, DefaultRootWindow(ADisplay), CurrentTime, None,
                      GrabModeAsync, GrabModeAsync, False, &Mask);
}

// An application window that covers the screen and has the input focus, and the two ways
// input reaches it: through Xvfb's own keyboard and mouse, which stand for the local user's
// devices, and through plain XTest, which goes by the XTEST devices as the technician's
// injected input does.
class TInputScene {
 public:
  explicit TInputScene(const std::string& ADisplay)
      : FClient(ADisplay), FInjector(ADisplay), FClientDisplay(FClient.Handle()),
        FInjectorDisplay(FInjector.Handle()) {
    Display* C = FClientDisplay;
    FWindow = XCreateSimpleWindow(C, DefaultRootWindow(C), 0, 0, DisplayWidth(C, 0),
                                  DisplayHeight(C, 0), 0, 0, 0);
    XSelectInput(C, FWindow, KeyPressMask | ButtonPressMask | PointerMotionMask);
    XMapWindow(C, FWindow);
    XSync(C, False);
    XSetInputFocus(C, FWindow, RevertToParent, CurrentTime);
    FMarker = XInternAtom(C, "HALVORA_TEST_MARKER", False);
    XSync(C, False);

    Display* I = FInjectorDisplay;
    FKeyboard = XOpenDevice(I, DeviceId(I, "Xvfb keyboard"));
    FMouse = XOpenDevice(I, DeviceId(I, "Xvfb mouse"));
    FKey = XKeysymToKeycode(I, 'a');
    if (!FKeyboard || !FMouse) throw std::runtime_error("Xvfb devices not found");
  }
  ~TInputScene() {
    XCloseDevice(FInjectorDisplay, FKeyboard);
    XCloseDevice(FInjectorDisplay, FMouse);
  }

  // Sends one event of AKind, from the local device (ALocal) or through XTest, and tells
  // whether the window received it. The fake input is delivered while the server handles
  // the request, so a marker sent right after it comes behind anything the window gets.
  bool Arrives(TKind AKind, bool ALocal) {
    Display* C = FClientDisplay;
    Display* I = FInjectorDisplay;
    XSync(C, True);  // nothing from earlier steps is counted
    int Expected = 0;
    switch (AKind) {
      case kKey:
        Expected = KeyPress;
        for (Bool Down : {True, False})
          ALocal ? XTestFakeDeviceKeyEvent(I, FKeyboard, FKey, Down, nullptr, 0, CurrentTime)
                 : XTestFakeKeyEvent(I, FKey, Down, CurrentTime);
        break;
      case kButton:
        Expected = ButtonPress;
        for (Bool Down : {True, False})
          ALocal ? XTestFakeDeviceButtonEvent(I, FMouse, 1, Down, nullptr, 0, CurrentTime)
                 : XTestFakeButtonEvent(I, 1, Down, CurrentTime);
        break;
      case kMotion: {
        Expected = MotionNotify;
        ++FStep;  // a new position every time, so every motion moves
        int Axes[2] = {20 + FStep, 10 + FStep};
        ALocal ? XTestFakeDeviceMotionEvent(I, FMouse, False, 0, Axes, 2, CurrentTime)
               : XTestFakeMotionEvent(I, 0, Axes[0], Axes[1], CurrentTime);
        break;
      }
    }
    XEvent Marker{};
    Marker.xclient.type = ClientMessage;
    Marker.xclient.window = FWindow;
    Marker.xclient.message_type = FMarker;
    Marker.xclient.format = 32;
    XSendEvent(I, FWindow, False, NoEventMask, &Marker);
    XFlush(I);

    int Got = 0;
    for (;;) {
      XEvent Event;
      XNextEvent(C, &Event);
      if (Event.type == ClientMessage && Event.xclient.message_type == FMarker) break;
      Got += Event.type == Expected;
    }
    return Got > 0;
  }

 private:
  TX11Connection FClient;
  TX11Connection FInjector;
  Display* const FClientDisplay;
  Display* const FInjectorDisplay;
  Window FWindow = None;
  Atom FMarker = None;
  XDevice* FKeyboard = nullptr;
  XDevice* FMouse = nullptr;
  KeyCode FKey = 0;
  int FStep = 0;
};

class X11InputBlocker : public ::testing::Test {
 protected:
  TXvfb FServer;
  TInputScene FScene{FServer.Display()};
  TX11Connection FOther{FServer.Display()};  // another client of the same server
};

TEST_F(X11InputBlocker, SwallowsLocalInputWhileInjectedInputPasses) {
  for (TKind Kind : cKinds) {
    SCOPED_TRACE(Kind);
    ASSERT_TRUE(FScene.Arrives(Kind, true));  // the simulation reaches the window at all
    ASSERT_TRUE(FScene.Arrives(Kind, false));
  }
  TInputBlocker Blocker(X11Factory(FServer.Display()));
  for (int Round = 0; Round < 2; ++Round) {
    SCOPED_TRACE(Round);
    Blocker.SetActive(true);
    ASSERT_TRUE(Blocker.Active());
    for (TKind Kind : cKinds) {
      SCOPED_TRACE(Kind);
      EXPECT_FALSE(FScene.Arrives(Kind, true));
      EXPECT_TRUE(FScene.Arrives(Kind, false));
    }
    Blocker.SetActive(false);
    for (TKind Kind : cKinds) {
      SCOPED_TRACE(Kind);
      EXPECT_TRUE(FScene.Arrives(Kind, true));
    }
  }
}

TEST_F(X11InputBlocker, FailsWithoutLeftoversWhileAnotherClientHoldsADevice) {
  Display* Other = FOther.Handle();
  const int Keyboard = DeviceId(Other, "Xvfb keyboard");
  ASSERT_EQ(GrabDevice(Other, Keyboard), GrabSuccess);
  ASSERT_TRUE(FOther.Sync());

  TInputBlocker Blocker(X11Factory(FServer.Display()));
  Blocker.SetActive(true);
  EXPECT_FALSE(Blocker.Active());
  // The mouse, grabbed before the keyboard was refused, is free again.
  EXPECT_TRUE(FScene.Arrives(kMotion, true));
  EXPECT_TRUE(FScene.Arrives(kButton, true));

  XIUngrabDevice(Other, Keyboard, CurrentTime);
  ASSERT_TRUE(FOther.Sync());
  Blocker.SetActive(true);
  EXPECT_TRUE(Blocker.Active());
  EXPECT_FALSE(FScene.Arrives(kKey, true));
}

// Xvfb cannot plug in a new physical device; disabling and enabling one makes the same
// hierarchy events (and reattaches it to its master, past a grab it still has). A new master
// brings new XTEST devices, which must stay free.
TEST_F(X11InputBlocker, GrabsDevicesThatComeBackAndLeavesNewXTestDevicesFree) {
  TInputBlocker Blocker(X11Factory(FServer.Display()));
  Blocker.SetActive(true);
  ASSERT_TRUE(Blocker.Active());

  Display* Other = FOther.Handle();
  XIAddMasterInfo Add{XIAddMaster, const_cast<char*>("Extra"), True, True};
  XIChangeHierarchy(Other, reinterpret_cast<XIAnyHierarchyChangeInfo*>(&Add), 1);
  const int Keyboard = DeviceId(Other, "Xvfb keyboard");
  const Atom Enabled = XInternAtom(Other, "Device Enabled", False);
  for (unsigned char State : {0, 1})
    XIChangeProperty(Other, Keyboard, Enabled, XA_INTEGER, 8, PropModeReplace, &State, 1);
  ASSERT_TRUE(FOther.Sync());

  EXPECT_TRUE(WaitUntil([&] { return !FScene.Arrives(kKey, true); }));
  EXPECT_TRUE(FScene.Arrives(kKey, false));
  EXPECT_FALSE(FScene.Arrives(kMotion, true));
  // Blocking has handled the changes, the new master's among them.
  for (const char* Name : {"Extra XTEST keyboard", "Extra XTEST pointer"}) {
    SCOPED_TRACE(Name);
    const int Id = DeviceId(Other, Name);
    ASSERT_GE(Id, 0);
    EXPECT_EQ(GrabDevice(Other, Id), GrabSuccess);
    XIUngrabDevice(Other, Id, CurrentTime);
  }

  Blocker.SetActive(false);
  EXPECT_TRUE(FScene.Arrives(kKey, true));
}

TEST_F(X11InputBlocker, LocalInputComesBackWhenTheBlockingProcessIsKilled) {
  int Pipe[2];
  ASSERT_EQ(pipe(Pipe), 0);
  const pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    close(Pipe[0]);
    try {
      TInputBlocker Blocker(X11Factory(FServer.Display()));
      Blocker.SetActive(true);
      const char Active = Blocker.Active() ? 1 : 0;
      if (write(Pipe[1], &Active, 1) == 1)
        for (;;) pause();
    } catch (...) {
    }
    _exit(1);
  }
  close(Pipe[1]);
  // The child is killed and reaped however the test ends.
  struct TReaper {
    explicit TReaper(pid_t APid) : Pid(APid) {}
    const pid_t Pid;
    ~TReaper() {
      kill(Pid, SIGKILL);
      waitpid(Pid, nullptr, 0);
    }
  };
  auto Reaper = std::make_unique<TReaper>(Child);
  char Active = 0;
  const bool Read = read(Pipe[0], &Active, 1) == 1;
  close(Pipe[0]);
  ASSERT_TRUE(Read);
  ASSERT_EQ(Active, 1);
  EXPECT_FALSE(FScene.Arrives(kKey, true));
  EXPECT_FALSE(FScene.Arrives(kMotion, true));
  EXPECT_TRUE(FScene.Arrives(kKey, false));

  Reaper.reset();  // kill -9
  EXPECT_TRUE(WaitUntil([&] { return FScene.Arrives(kKey, true); }));
  EXPECT_TRUE(FScene.Arrives(kMotion, true));
  EXPECT_TRUE(FScene.Arrives(kButton, true));
}

}  // namespace
}  // namespace halvora

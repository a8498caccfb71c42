#include <gtest/gtest.h>

#include <X11/XF86keysym.h>
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "input/uInputInjector.h"
#include "input/x11/uX11InputInjector.h"
#include "support/linux/uChildProcess.h"
#include "support/linux/uXvfb.h"
#include "uXiDevices.h"

namespace halvora {
namespace {

using namespace std::chrono_literals;
using test::DeviceId;
using test::TChildProcess;
using test::TXvfb;
using test::WaitUntil;

// Three monitors on a 1600 × 600 root (as the capture tests lay them out): the primary in
// the middle, so the left one has negative virtual-screen coordinates.
struct TMonitor {
  int Index;   // in protocol order
  TRect Root;  // on the root window
};
const TMonitor cPrimary{0, {640, 0, 1280, 600}};
const TMonitor cLeft{1, {0, 0, 640, 480}};
const TMonitor cRight{2, {1280, 100, 1600, 340}};

// One event as the receiving window got it, the keysyms read with the mapping of that moment.
struct TReceived {
  int Type = 0;
  unsigned Detail = 0;  // keycode or button
  unsigned State = 0;
  int RootX = 0, RootY = 0;
  std::vector<KeySym> Syms;  // keys: the keysyms of the first two groups and levels
  std::string Text;          // keys: what XLookupString makes of it
};

// Whether the device's XKB RepeatKeys control is on.
bool RepeatKeysOn(Display* ADisplay, int ADevice) {
  XkbDescPtr Desc = XkbAllocKeyboard();
  Desc->device_spec = static_cast<unsigned short>(ADevice);
  EXPECT_EQ(XkbGetControls(ADisplay, XkbAllControlsMask, Desc), Success);
  const bool On = (Desc->ctrls->enabled_ctrls & XkbRepeatKeysMask) != 0;
  XkbFreeKeyboard(Desc, 0, True);
  return On;
}

// The device's keyboard feedback auto-repeat as XInput 1 reports it; -1 when unreadable.
int FeedbackAutoRepeat(Display* ADisplay, int ADevice) {
  XDevice* Device = XOpenDevice(ADisplay, static_cast<XID>(ADevice));
  if (!Device) return -1;
  int Count = 0, Repeat = -1;
  XFeedbackState* States = XGetFeedbackControl(ADisplay, Device, &Count);
  XFeedbackState* State = States;
  for (int I = 0; I < Count; ++I) {
    if (State->c_class == KbdFeedbackClass)
      Repeat = reinterpret_cast<XKbdFeedbackState*>(State)->global_auto_repeat;
    State = reinterpret_cast<XFeedbackState*>(reinterpret_cast<char*>(State) + State->length);
  }
  XFreeFeedbackList(States);
  XCloseDevice(ADisplay, Device);
  return Repeat;
}

class X11InputInjectorTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { FServer = test::NewThreeMonitorXvfb(); }
  static void TearDownTestSuite() { FServer.reset(); }

  void SetUp() override {
    if (!FServer) GTEST_SKIP() << "xrandr is missing";
    FDisplay = XOpenDisplay(FServer->Display().c_str());
    ASSERT_NE(FDisplay, nullptr);
    // A window over the whole root with the input focus: it receives every injected event.
    XSetWindowAttributes Attributes{};
    Attributes.override_redirect = True;
    Attributes.event_mask =
        KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
    FWindow =
        XCreateWindow(FDisplay, DefaultRootWindow(FDisplay), 0, 0, 1600, 600, 0, CopyFromParent,
                      InputOutput, CopyFromParent, CWOverrideRedirect | CWEventMask, &Attributes);
    XMapRaised(FDisplay, FWindow);
    XSync(FDisplay, False);
    XSetInputFocus(FDisplay, FWindow, RevertToPointerRoot, CurrentTime);
    XSync(FDisplay, False);
    FMapping = KeyboardMapping();
    StartWorker();
  }

  void TearDown() override {
    FWorker.reset();
    if (FDisplay) {
      EXPECT_EQ(KeyboardMapping(), FMapping) << "the keyboard mapping was not put back";
      XDestroyWindow(FDisplay, FWindow);
      XCloseDisplay(FDisplay);
    }
  }

  void StartWorker() {
    const std::string Name = FServer->Display();
    FWorker = std::make_unique<TInputThread>([Name] { return NewX11InputSink(Name); });
  }

  void Move(int AMonitor, std::uint16_t AX, std::uint16_t AY, std::uint8_t AAction = 0,
            std::int16_t AWheel = 0) {
    TInputItem Item;
    Item.Kind = ikMouse;
    Item.Mouse = {static_cast<std::uint8_t>(AMonitor), AX, AY, AAction, AWheel};
    Item.Monitor = AMonitor;
    FWorker->Post(Item);
  }
  void Key(std::uint16_t AVKey, std::uint8_t ADown) {
    TInputItem Item;
    Item.Kind = ikKey;
    Item.Key = {AVKey, ADown};
    FWorker->Post(Item);
  }
  void ReleaseKeys() {
    TInputItem Item;
    Item.Kind = ikRelease;
    FWorker->Post(Item);
  }

  TPoint Pointer() {
    Window Root = 0, Child = 0;
    int X = 0, Y = 0, WinX = 0, WinY = 0;
    unsigned Mask = 0;
    XQueryPointer(FDisplay, DefaultRootWindow(FDisplay), &Root, &Child, &X, &Y, &WinX, &WinY,
                  &Mask);
    return {X, Y};
  }

  // Every event injected so far, up to two pointer moves made as a marker (so that
  // the second always moves the pointer); the markers' own motion is left out.
  std::vector<TReceived> Received() {
    Move(cPrimary.Index, 1000, 1000);
    Move(cPrimary.Index, 2000, 2000);
    const TPoint Marker = MonitorPixel({0, 0, 640, 600}, 2000, 2000);
    std::vector<TReceived> Events;
    bool Seen = false;
    const bool Arrived = WaitUntil(
        [&] {
          while (!Seen && XPending(FDisplay) > 0) {
            XEvent Event;
            XNextEvent(FDisplay, &Event);
            if (Event.type == MappingNotify) XRefreshKeyboardMapping(&Event.xmapping);
            if (Event.type == MotionNotify) {
              Seen = Event.xmotion.x_root == cPrimary.Root.Left + Marker.X &&
                     Event.xmotion.y_root == Marker.Y;
              continue;
            }
            if (Event.type == KeyPress || Event.type == KeyRelease) {
              TReceived Key;
              Key.Type = Event.type;
              Key.Detail = Event.xkey.keycode;
              Key.State = Event.xkey.state;
              Key.Syms = ServerSyms(Key.Detail);
              char Text[8] = {};
              const int Length =
                  XLookupString(&Event.xkey, Text, sizeof Text - 1, nullptr, nullptr);
              Key.Text.assign(Text, static_cast<std::size_t>(std::max(Length, 0)));
              Events.push_back(Key);
            } else if (Event.type == ButtonPress || Event.type == ButtonRelease) {
              TReceived Button;
              Button.Type = Event.type;
              Button.Detail = Event.xbutton.button;
              Button.State = Event.xbutton.state;
              Button.RootX = Event.xbutton.x_root;
              Button.RootY = Event.xbutton.y_root;
              Events.push_back(Button);
            }
          }
          return Seen;
        },
        10s);
    EXPECT_TRUE(Arrived) << "the marker moves did not arrive";
    return Events;
  }

  std::vector<KeySym> KeyboardMapping() {
    int Min = 0, Max = 0, PerCode = 0;
    XDisplayKeycodes(FDisplay, &Min, &Max);
    KeySym* Map = XGetKeyboardMapping(FDisplay, static_cast<KeyCode>(Min), Max - Min + 1, &PerCode);
    std::vector<KeySym> Result(Map, Map + (Max - Min + 1) * PerCode);
    XFree(Map);
    return Result;
  }
  // The first four keysyms the server maps to the keycode now. Xlib's own copy of the map can
  // lag behind a keycode the injector has just lent out; lent keycodes stay lent until the
  // injector ends, so the server's map still shows what a key event carried.
  std::vector<KeySym> ServerSyms(unsigned ACode) {
    int PerCode = 0;
    KeySym* Map = XGetKeyboardMapping(FDisplay, static_cast<KeyCode>(ACode), 1, &PerCode);
    std::vector<KeySym> Result(4, NoSymbol);
    std::copy_n(Map, std::min(PerCode, 4), Result.begin());
    XFree(Map);
    return Result;
  }
  // Whether the keycode carried no keysym before the test began.
  bool WasSpare(unsigned ACode) {
    int Min = 0, Max = 0;
    XDisplayKeycodes(FDisplay, &Min, &Max);
    const std::size_t PerCode = FMapping.size() / static_cast<std::size_t>(Max - Min + 1);
    const auto First = FMapping.begin() + static_cast<long>((ACode - Min) * PerCode);
    return std::all_of(First, First + static_cast<long>(PerCode),
                       [](KeySym S) { return S == NoSymbol; });
  }
  std::vector<unsigned> KeysDown() {
    char Keys[32];
    XQueryKeymap(FDisplay, Keys);
    std::vector<unsigned> Down;
    for (unsigned Code = 0; Code < 256; ++Code)
      if (Keys[Code / 8] & (1 << (Code % 8))) Down.push_back(Code);
    return Down;
  }

  static inline std::unique_ptr<TXvfb> FServer;
  Display* FDisplay = nullptr;
  Window FWindow = 0;
  std::vector<KeySym> FMapping;  // as the test found it
  std::unique_ptr<TInputThread> FWorker;
};

TEST_F(X11InputInjectorTest, TheWireRangeSpansEachMonitorFromItsFirstToItsLastPixel) {
  struct TCase {
    int Index;  // as sent
    const TMonitor& Monitor;
  };
  const TCase Cases[] = {{0, cPrimary}, {1, cLeft}, {2, cRight}, {7, cRight}};
  for (const TCase& C : Cases) {
    const TRect& R = C.Monitor.Root;
    Move(C.Index, 0, 0);
    EXPECT_TRUE(WaitUntil(
        [&] {
          return Pointer() == TPoint{R.Left, R.Top};
        },
        5s))
        << "monitor " << C.Index << " top left; the pointer is at " << Pointer().X << ", "
        << Pointer().Y;
    Move(C.Index, 65535, 65535);
    EXPECT_TRUE(WaitUntil(
        [&] {
          return Pointer() == TPoint{R.Right - 1, R.Bottom - 1};
        },
        5s))
        << "monitor " << C.Index << " bottom right; the pointer is at " << Pointer().X << ", "
        << Pointer().Y;
  }
}

TEST_F(X11InputInjectorTest, ButtonsAndTheWheelArriveWhereThePointerWasSent) {
  Move(cLeft.Index, 0, 0, 1);
  Move(cLeft.Index, 0, 0, 2);
  Move(cRight.Index, 65535, 0, 3);
  Move(cRight.Index, 65535, 0, 4);
  Move(cPrimary.Index, 0, 65535, 5);
  Move(cPrimary.Index, 0, 65535, 6);
  // Wheel: 120 away, 240 toward; halves add up; a turn back drops what was left over.
  for (const std::int16_t Wheel : {120, -240, 60, 60, 90, -30, -100})
    Move(cPrimary.Index, 0, 0, 7, Wheel);
  Move(cPrimary.Index, 0, 0, 0, 120);  // the wheel of any other action is ignored
  Move(cPrimary.Index, 0, 0, 9);       // so is an unknown action: a move
  struct TExpected {
    int Type;
    unsigned Button;
    TPoint Root;
  };
  const TExpected Expected[] = {
      {ButtonPress, 1, {0, 0}},        {ButtonRelease, 1, {0, 0}},   {ButtonPress, 3, {1599, 100}},
      {ButtonRelease, 3, {1599, 100}}, {ButtonPress, 2, {640, 599}}, {ButtonRelease, 2, {640, 599}},
      {ButtonPress, 4, {640, 0}},      {ButtonRelease, 4, {640, 0}}, {ButtonPress, 5, {640, 0}},
      {ButtonRelease, 5, {640, 0}},    {ButtonPress, 5, {640, 0}},   {ButtonRelease, 5, {640, 0}},
      {ButtonPress, 4, {640, 0}},      {ButtonRelease, 4, {640, 0}}, {ButtonPress, 5, {640, 0}},
      {ButtonRelease, 5, {640, 0}},
  };
  const std::vector<TReceived> Events = Received();
  ASSERT_EQ(Events.size(), std::size(Expected));
  for (std::size_t I = 0; I < Events.size(); ++I) {
    EXPECT_EQ(Events[I].Type, Expected[I].Type) << "event " << I;
    EXPECT_EQ(Events[I].Detail, Expected[I].Button) << "event " << I;
    EXPECT_EQ((TPoint{Events[I].RootX, Events[I].RootY}), Expected[I].Root) << "event " << I;
  }
}

TEST_F(X11InputInjectorTest, VirtualKeysArriveAsTheirKeysyms) {
  struct TCase {
    std::uint16_t VKey;
    KeySym Sym;
  };
  const TCase Cases[] = {
      {0x41, XK_a},          {0x5A, XK_z},          {0x37, XK_7},
      {0x0D, XK_Return},     {0x25, XK_Left},       {0x26, XK_Up},
      {0x27, XK_Right},      {0x28, XK_Down},       {0x2E, XK_Delete},
      {0x60, XK_KP_0},       {0x69, XK_KP_9},       {0x6B, XK_KP_Add},
      {0x6F, XK_KP_Divide},  {0x6E, XK_KP_Decimal}, {0xBA, XK_semicolon},
      {0xDE, XK_apostrophe}, {0x70, XK_F1},         {0x5B, XK_Super_L},
      {0x5D, XK_Menu},       {0xA3, XK_Control_R},  {0xAD, XF86XK_AudioMute},
      {0x7C, XK_F13},        {0x87, XK_F24},
  };
  for (const TCase& C : Cases) {
    Key(C.VKey, C.VKey == 0x41 ? 2 : 1);  // any non-zero Down is a press
    Key(C.VKey, 0);
  }
  Key(0x07, 1);  // unknown virtual keys are ignored
  Key(0xFF, 1);
  Key(0x1234, 1);
  const std::vector<TReceived> Events = Received();
  ASSERT_EQ(Events.size(), 2 * std::size(Cases));
  for (std::size_t I = 0; I < std::size(Cases); ++I) {
    const TReceived& Press = Events[2 * I];
    const TReceived& Release = Events[2 * I + 1];
    SCOPED_TRACE(testing::Message() << "virtual key 0x" << std::hex << Cases[I].VKey);
    EXPECT_EQ(Press.Type, KeyPress);
    EXPECT_EQ(Release.Type, KeyRelease);
    EXPECT_EQ(Press.Detail, Release.Detail);
    EXPECT_NE(std::find(Press.Syms.begin(), Press.Syms.end(), Cases[I].Sym), Press.Syms.end());
    if (Cases[I].Sym == XK_F13 || Cases[I].Sym == XK_F24) {
      EXPECT_TRUE(WasSpare(Press.Detail)) << "keycode " << Press.Detail;
      EXPECT_EQ(Press.Syms[0], Cases[I].Sym);
    }
  }
}

TEST_F(X11InputInjectorTest, ModifiersWithOtherKeysAndTwoBorrowedKeysAtOnce) {
  Key(0x10, 1);
  Key(0x41, 1);
  Key(0x41, 0);
  Key(0x10, 0);
  Key(0x7C, 1);  // F13 and F24 held together need a spare keycode each
  Key(0x87, 1);
  Key(0x7C, 0);
  Key(0x87, 0);
  Key(0xA5, 1);  // right Alt let go of through the generic Alt code
  Key(0x12, 0);
  const std::vector<TReceived> Events = Received();
  ASSERT_EQ(Events.size(), 10u);
  EXPECT_EQ(Events[1].Type, KeyPress);
  EXPECT_EQ(Events[1].Text, "A");
  EXPECT_NE(Events[1].State & ShiftMask, 0u);
  EXPECT_EQ(Events[4].Syms[0], XK_F13);
  EXPECT_EQ(Events[5].Syms[0], XK_F24);
  EXPECT_NE(Events[4].Detail, Events[5].Detail);
  EXPECT_EQ(Events[6].Detail, Events[4].Detail);
  EXPECT_EQ(Events[7].Detail, Events[5].Detail);
  EXPECT_EQ(Events[8].Syms[0], XK_Alt_R);
  EXPECT_EQ(Events[9].Type, KeyRelease);
  EXPECT_EQ(Events[9].Detail, Events[8].Detail);
}

TEST_F(X11InputInjectorTest, ReleaseAndTeardownLetGoOfHeldKeysAndPutTheMappingBack) {
  for (const bool ByTeardown : {false, true}) {
    SCOPED_TRACE(ByTeardown ? "teardown" : "release");
    // Shift, right Alt (only the generic Alt code is released), right Control, a letter and
    // F13 on a borrowed keycode.
    for (const std::uint16_t VKey : {0x10, 0xA5, 0xA3, 0x41, 0x7C}) Key(VKey, 1);
    const std::vector<TReceived> Pressed = Received();
    ASSERT_EQ(Pressed.size(), 5u);
    EXPECT_EQ(KeysDown().size(), 5u);
    EXPECT_NE(KeyboardMapping(), FMapping);
    if (ByTeardown) {
      FWorker.reset();
      StartWorker();  // for the marker moves
    } else {
      ReleaseKeys();
    }
    const std::vector<TReceived> Released = Received();
    EXPECT_EQ(Released.size(), 5u);
    for (const TReceived& Event : Released) EXPECT_EQ(Event.Type, KeyRelease);
    EXPECT_EQ(KeysDown(), std::vector<unsigned>{});
    EXPECT_EQ(KeyboardMapping(), FMapping);
  }
}

TEST_F(X11InputInjectorTest, AHeldKeyIsNotRepeatedByTheServerAndThePhysicalKeyboardKeepsRepeat) {
  const int XTestKeyboard = DeviceId(FDisplay, "Virtual core XTEST keyboard");
  const int Keyboard = DeviceId(FDisplay, "Xvfb keyboard");
  ASSERT_GE(XTestKeyboard, 0);
  ASSERT_GE(Keyboard, 0);
  // Another XTest client typed last, with repeat on: the master keyboard repeats by a copy of
  // the XTest keyboard's settings from then.
  ASSERT_TRUE(RepeatKeysOn(FDisplay, XTestKeyboard));
  const KeyCode Z = XKeysymToKeycode(FDisplay, XK_z);
  XTestFakeKeyEvent(FDisplay, Z, True, CurrentTime);
  XTestFakeKeyEvent(FDisplay, Z, False, CurrentTime);
  XSync(FDisplay, False);

  Key(0x41, 1);
  ASSERT_EQ(Received().size(), 3u);  // z down and up, a down
  // Longer than the server's repeat delay of 660 ms: with repeat on, a repeat comes by now.
  std::this_thread::sleep_for(700ms);
  Key(0x41, 0);
  std::vector<TReceived> Events = Received();
  Events.erase(std::remove_if(Events.begin(), Events.end(),
                              [Z](const TReceived& E) { return E.Detail == Z; }),
               Events.end());
  ASSERT_EQ(Events.size(), 1u);
  EXPECT_EQ(Events[0].Type, KeyRelease);
  EXPECT_FALSE(RepeatKeysOn(FDisplay, XTestKeyboard));
  EXPECT_TRUE(RepeatKeysOn(FDisplay, Keyboard));
  EXPECT_EQ(FeedbackAutoRepeat(FDisplay, Keyboard), 1);

  FWorker.reset();  // the XTest keyboard gets its setting back
  EXPECT_TRUE(RepeatKeysOn(FDisplay, XTestKeyboard));
  EXPECT_TRUE(RepeatKeysOn(FDisplay, Keyboard));
}

}  // namespace
}  // namespace halvora

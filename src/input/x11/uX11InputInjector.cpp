#include "input/x11/uX11InputInjector.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/uDesktop.h"
#include "platform/x11/uX11Connection.h"
#include "platform/x11/uX11Monitors.h"
#include "input/x11/uX11InputKeys.h"

namespace halvora {

namespace {

constexpr int WheelStep = 120;
constexpr unsigned ButtonWheelAway = 4;
constexpr unsigned ButtonWheelToward = 5;

class TX11InputSink final : public IInputSink {
 public:
  explicit TX11InputSink(const std::string& ADisplayName)
      : FConnection(ADisplayName),
        FDisplay(FConnection.Handle()),
        FScreen(DefaultScreen(FDisplay)),
        FMonitors(NewX11MonitorSource(ADisplayName)) {
    int Event = 0, Error = 0, Major = 0, Minor = 0;
    if (!XTestQueryExtension(FDisplay, &Event, &Error, &Major, &Minor))
      throw std::runtime_error("O servidor X não tem a extensão XTest");
    FindSpareKeycodes();
    FindKeyboards();
  }

  ~TX11InputSink() override {
    try {
      FinishRelease();
      RestoreRepeat();
      XSync(FDisplay, False);
    } catch (...) {
      // Nothing more can be put back.
    }
  }

  std::vector<TRect> GetMonitorRects() override {
    TMonitorLayout Layout = GetMonitorLayout(*FMonitors);
    FOrigin = Layout.Origin;
    return std::move(Layout.Rects);
  }

  bool SwitchToInputDesktop() override { return halvora::SwitchToInputDesktop(); }

  void SendMouse(TPoint APos, TMouseAction AAction, std::int32_t AWheel) override {
    XTestFakeMotionEvent(FDisplay, FScreen, APos.X + FOrigin.X, APos.Y + FOrigin.Y, CurrentTime);
    switch (AAction) {
      case TMouseAction::Move:
        break;
      case TMouseAction::LeftDown:
      case TMouseAction::LeftUp:
        XTestFakeButtonEvent(FDisplay, 1, AAction == TMouseAction::LeftDown, CurrentTime);
        break;
      case TMouseAction::RightDown:
      case TMouseAction::RightUp:
        XTestFakeButtonEvent(FDisplay, 3, AAction == TMouseAction::RightDown, CurrentTime);
        break;
      case TMouseAction::MiddleDown:
      case TMouseAction::MiddleUp:
        XTestFakeButtonEvent(FDisplay, 2, AAction == TMouseAction::MiddleDown, CurrentTime);
        break;
      case TMouseAction::Wheel:
        TurnWheel(AWheel);
        break;
    }
    XFlush(FDisplay);
  }

  // The virtual key alone picks the keysym (the extended flag only follows from the code),
  // so the flag is not needed here.
  void SendKey(std::uint16_t AVKey, bool ADown, bool) override {
    if (VirtualKeyKeySyms(AVKey).empty()) return;
    TakeEvents();
    if (ADown) {
      KeepRepeatOff();
      KeyCode Code = FPressed[AVKey];
      if (Code == 0) Code = KeycodeOf(AVKey, true);
      if (Code == 0) return;
      FPressed[AVKey] = Code;
      FDown.set(Code);
      XTestFakeKeyEvent(FDisplay, Code, True, CurrentTime);
    } else {
      Release(AVKey);
      // A generic Shift, Control or Alt lets go of either side that injection holds.
      const TKeySides Sides = GenericKeySides(AVKey);
      if (Sides.Left != 0) {
        if (FDown.test(HeldKeycodeOf(Sides.Left))) Release(Sides.Left);
        if (FDown.test(HeldKeycodeOf(Sides.Right))) Release(Sides.Right);
      }
    }
    XFlush(FDisplay);
  }

  bool IsKeyDown(std::uint16_t AVKey) override {
    if (VirtualKeyKeySyms(AVKey).empty()) return false;
    TakeEvents();
    char Keys[32];
    XQueryKeymap(FDisplay, Keys);
    const auto Down = [&](std::uint16_t AKey) {
      const KeyCode Code = HeldKeycodeOf(AKey);
      return Code != 0 && (Keys[Code / 8] & (1 << (Code % 8))) != 0;
    };
    const TKeySides Sides = GenericKeySides(AVKey);
    return Sides.Left != 0 ? Down(Sides.Left) || Down(Sides.Right) : Down(AVKey);
  }

  void FinishRelease() override {
    for (std::size_t Code = 1; Code < FDown.size(); ++Code)
      if (FDown.test(Code))
        XTestFakeKeyEvent(FDisplay, static_cast<unsigned>(Code), False, CurrentTime);
    FDown.reset();
    FPressed.fill(0);
    ReturnSpareKeycodes();
    XFlush(FDisplay);
  }

 private:
  struct TSpare {
    KeyCode Code = 0;
    KeySym Sym = NoSymbol;     // the keysym lent to it, NoSymbol while it is free
    std::uint64_t LastUse = 0;
  };

  void TurnWheel(std::int32_t AAmount) {
    if (AAmount == 0) return;
    // A turn in the other direction drops what was left over from the last one.
    if (FWheelRest != 0 && (FWheelRest > 0) != (AAmount > 0)) FWheelRest = 0;
    FWheelRest += AAmount;
    const int Clicks = FWheelRest / WheelStep;
    FWheelRest -= Clicks * WheelStep;
    const unsigned Button = Clicks > 0 ? ButtonWheelAway : ButtonWheelToward;
    for (int I = std::abs(Clicks); I > 0; --I) {
      XTestFakeButtonEvent(FDisplay, Button, True, CurrentTime);
      XTestFakeButtonEvent(FDisplay, Button, False, CurrentTime);
    }
  }

  // Handles what the server sent this connection, so that Xlib's copy of the keyboard
  // mapping follows every change (ours and others').
  void TakeEvents() {
    while (XPending(FDisplay) > 0) {
      XEvent Event;
      XNextEvent(FDisplay, &Event);
      if (Event.type == MappingNotify) XRefreshKeyboardMapping(&Event.xmapping);
    }
  }

  // The keycode that a press of AVKey sent and that is not released yet, else the one the
  // mapping gives now; 0 when there is none.
  KeyCode HeldKeycodeOf(std::uint16_t AVKey) {
    return FPressed[AVKey] != 0 ? FPressed[AVKey] : KeycodeOf(AVKey, false);
  }

  void Release(std::uint16_t AVKey) {
    const KeyCode Code = HeldKeycodeOf(AVKey);
    FPressed[AVKey] = 0;
    if (Code == 0) return;
    XTestFakeKeyEvent(FDisplay, Code, False, CurrentTime);
    FDown.reset(Code);
  }

  // The keycode for AVKey: a spare one already lent a keysym of it, else the first key of
  // the mapping that carries one of its keysyms, else (when ABorrow) a spare lent the first
  // keysym; 0 when there is none.
  KeyCode KeycodeOf(std::uint16_t AVKey, bool ABorrow) {
    const std::span<const KeySym> Syms = VirtualKeyKeySyms(AVKey);
    for (const KeySym Sym : Syms)
      for (TSpare& Spare : FSpares)
        if (Spare.Sym == Sym) {
          Spare.LastUse = ++FUseCount;
          return Spare.Code;
        }
    for (const KeySym Sym : Syms)
      if (const KeyCode Code = XKeysymToKeycode(FDisplay, Sym)) return Code;
    return ABorrow && !Syms.empty() ? BorrowSpare(Syms.front()) : 0;
  }

  // Lends ASym to the spare keycode unused for longest that is not held down.
  KeyCode BorrowSpare(KeySym ASym) {
    for (;;) {
      auto Best = FSpares.end();
      for (auto It = FSpares.begin(); It != FSpares.end(); ++It)
        if (!FDown.test(It->Code) && (Best == FSpares.end() || It->LastUse < Best->LastUse))
          Best = It;
      if (Best == FSpares.end()) return 0;
      // Someone else may have given the keycode keysyms since: then it is no longer spare.
      if (!CarriesOnly(Best->Code, Best->Sym)) {
        FSpares.erase(Best);
        continue;
      }
      KeySym Sym = ASym;
      XChangeKeyboardMapping(FDisplay, Best->Code, 1, &Sym, 1);
      if (!FConnection.Sync()) return 0;
      TakeEvents();
      Best->Sym = ASym;
      Best->LastUse = ++FUseCount;
      return Best->Code;
    }
  }

  // Takes the keysyms back from the spare keycodes (unless someone else remapped them since).
  void ReturnSpareKeycodes() {
    bool Changed = false;
    for (TSpare& Spare : FSpares) {
      if (Spare.Sym == NoSymbol) continue;
      if (CarriesOnly(Spare.Code, Spare.Sym)) {
        KeySym Empty = NoSymbol;
        XChangeKeyboardMapping(FDisplay, Spare.Code, 1, &Empty, 1);
        Changed = true;
      }
      Spare.Sym = NoSymbol;
      Spare.LastUse = 0;
    }
    if (Changed) {
      FConnection.Sync();
      TakeEvents();
    }
  }

  // Whether the server maps ACode to nothing but ASym (which the core mapping may show in
  // more than one column) or, ASym being NoSymbol, to nothing at all.
  bool CarriesOnly(KeyCode ACode, KeySym ASym) {
    int PerCode = 0;
    KeySym* Syms = XGetKeyboardMapping(FDisplay, ACode, 1, &PerCode);
    if (!Syms) return ASym == NoSymbol;
    const bool Only = std::all_of(Syms, Syms + PerCode,
                                  [ASym](KeySym S) { return S == NoSymbol || S == ASym; });
    XFree(Syms);
    return Only;
  }

  // Keycodes of the server's range that carry no keysym and no modifier, highest first.
  void FindSpareKeycodes() {
    int Min = 0, Max = 0;
    XDisplayKeycodes(FDisplay, &Min, &Max);
    int PerCode = 0;
    KeySym* Map = XGetKeyboardMapping(FDisplay, static_cast<KeyCode>(Min), Max - Min + 1, &PerCode);
    if (!Map) return;
    std::bitset<256> Modifier;
    if (XModifierKeymap* Mods = XGetModifierMapping(FDisplay)) {
      for (int I = 0; I < 8 * Mods->max_keypermod; ++I) Modifier.set(Mods->modifiermap[I]);
      XFreeModifiermap(Mods);
    }
    for (int Code = Max; Code >= Min && Code > 0; --Code) {
      const KeySym* Syms = Map + static_cast<std::size_t>(Code - Min) * PerCode;
      if (!Modifier.test(Code) && std::all_of(Syms, Syms + PerCode,
                                              [](KeySym S) { return S == NoSymbol; }))
        FSpares.push_back({static_cast<KeyCode>(Code)});
    }
    XFree(Map);
  }

  // The master keyboard that XTest's key events go through (the one paired with this
  // client's pointer) and its XTest keyboard, when the server has XInput 2 and XKB.
  void FindKeyboards() {
    int Opcode = 0, Event = 0, Error = 0, Major = XkbMajorVersion, Minor = XkbMinorVersion;
    if (!XkbQueryExtension(FDisplay, &Opcode, &Event, &Error, &Major, &Minor)) return;
    if (!XQueryExtension(FDisplay, "XInputExtension", &Opcode, &Event, &Error)) return;
    Major = 2;
    Minor = 0;
    if (XIQueryVersion(FDisplay, &Major, &Minor) != Success) return;
    int Pointer = 0;
    if (!XIGetClientPointer(FDisplay, None, &Pointer)) return;
    int Count = 0;
    XIDeviceInfo* Devices = XIQueryDevice(FDisplay, XIAllDevices, &Count);
    if (!Devices) return;
    for (int I = 0; I < Count; ++I)
      if (Devices[I].deviceid == Pointer) FMaster = Devices[I].attachment;
    for (int I = 0; I < Count; ++I)
      if (Devices[I].use == XISlaveKeyboard && Devices[I].attachment == FMaster &&
          std::strstr(Devices[I].name, "XTEST"))
        FXTestKeyboard = Devices[I].deviceid;
    XIFreeDeviceInfo(Devices);
  }

  bool RepeatOn(int ADevice) {
    XkbDescPtr Desc = XkbAllocKeyboard();
    if (!Desc) return false;
    Desc->device_spec = static_cast<unsigned short>(ADevice);
    const bool On = XkbGetControls(FDisplay, XkbAllControlsMask, Desc) == Success &&
                    Desc->ctrls && (Desc->ctrls->enabled_ctrls & XkbRepeatKeysMask) != 0;
    XkbFreeKeyboard(Desc, 0, True);
    return On;
  }

  void SetRepeat(int ADevice, bool AOn) {
    XkbChangeEnabledControls(FDisplay, static_cast<unsigned>(ADevice), XkbRepeatKeysMask,
                             AOn ? XkbRepeatKeysMask : 0);
  }

  // The slave whose keys the master keyboard took over last; -1 when unknown.
  int MasterSource() {
    int Count = 0;
    XIDeviceInfo* Master = XIQueryDevice(FDisplay, FMaster, &Count);
    if (!Master) return -1;
    int Source = -1;
    for (int I = 0; I < Master->num_classes; ++I)
      if (Master->classes[I]->type == XIKeyClass) Source = Master->classes[I]->sourceid;
    XIFreeDeviceInfo(Master);
    return Source;
  }

  // XKB applies controls set on a master to all its slaves too, so each other slave gets
  // its own setting back at once.
  void SetMasterRepeat(bool AOn) {
    std::vector<std::pair<int, bool>> Others;
    int Count = 0;
    if (XIDeviceInfo* Devices = XIQueryDevice(FDisplay, XIAllDevices, &Count)) {
      for (int I = 0; I < Count; ++I)
        if (Devices[I].use == XISlaveKeyboard && Devices[I].attachment == FMaster &&
            Devices[I].deviceid != FXTestKeyboard)
          Others.emplace_back(Devices[I].deviceid, false);
      XIFreeDeviceInfo(Devices);
    }
    for (auto& [Device, On] : Others) On = RepeatOn(Device);
    SetRepeat(FMaster, AOn);
    for (const auto& [Device, On] : Others)
      if (On != AOn) SetRepeat(Device, On);
  }

  // Called before every press. The server repeats a held key by the master keyboard's
  // settings, which are a copy of its source slave's taken whenever the source changes; so
  // the XTest keyboard's repeat is switched off, and when the XTest keyboard is already the
  // master's source, the master's copy too. Checked each time, since others (a desktop's
  // keyboard settings, xset) may switch it on again.
  void KeepRepeatOff() {
    if (FXTestKeyboard < 0) return;
    const bool On = RepeatOn(FXTestKeyboard);
    if (!FRepeatTouched) {
      FXTestRepeatWas = On;
      FRepeatTouched = true;
    }
    if (On) SetRepeat(FXTestKeyboard, false);
    if (RepeatOn(FMaster) && MasterSource() == FXTestKeyboard) SetMasterRepeat(false);
  }

  void RestoreRepeat() {
    if (!FRepeatTouched) return;
    if (RepeatOn(FXTestKeyboard) != FXTestRepeatWas) SetRepeat(FXTestKeyboard, FXTestRepeatWas);
    if (RepeatOn(FMaster) != FXTestRepeatWas && MasterSource() == FXTestKeyboard)
      SetMasterRepeat(FXTestRepeatWas);
  }

  TX11Connection FConnection;
  Display* const FDisplay;
  const int FScreen;
  const std::unique_ptr<IMonitorSource> FMonitors;
  TPoint FOrigin;  // root position of virtual-screen (0, 0), as last listed
  int FWheelRest = 0;
  std::array<KeyCode, 256> FPressed{};  // by virtual key: the keycode its press sent
  std::bitset<256> FDown;               // keycodes injection holds down
  std::vector<TSpare> FSpares;
  std::uint64_t FUseCount = 0;
  int FMaster = -1;
  int FXTestKeyboard = -1;  // -1: repeat is left alone (no XInput 2 or XKB)
  bool FRepeatTouched = false;
  bool FXTestRepeatWas = true;
};

}  // namespace

std::unique_ptr<IInputSink> NewX11InputSink(const std::string& ADisplayName) {
  return std::make_unique<TX11InputSink>(ADisplayName);
}

}  // namespace halvora

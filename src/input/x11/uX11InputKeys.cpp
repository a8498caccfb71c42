#include "input/x11/uX11InputKeys.h"

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <array>

namespace halvora {

namespace {

struct TKeyEntry {
  std::uint16_t VKey;
  std::array<KeySym, 2> Syms;  // NoSymbol pads
};

// Codes that do not follow a run (letters, digits, numeric-pad digits, function keys).
constexpr TKeyEntry Keys[] = {
    {0x08, {XK_BackSpace}},
    {0x09, {XK_Tab}},
    {0x0C, {XK_KP_Begin, XK_Clear}},  // Clear: numeric-pad 5 without Num Lock
    {0x0D, {XK_Return}},
    {0x10, {XK_Shift_L}},
    {0x11, {XK_Control_L}},
    {0x12, {XK_Alt_L}},
    {0x13, {XK_Pause}},
    {0x14, {XK_Caps_Lock}},
    {0x1B, {XK_Escape}},
    {0x20, {XK_space}},
    {0x21, {XK_Prior}},
    {0x22, {XK_Next}},
    {0x23, {XK_End}},
    {0x24, {XK_Home}},
    {0x25, {XK_Left}},
    {0x26, {XK_Up}},
    {0x27, {XK_Right}},
    {0x28, {XK_Down}},
    {0x29, {XK_Select}},
    {0x2A, {XK_Print}},
    {0x2B, {XK_Execute}},
    {0x2C, {XK_Print}},  // Print Screen
    {0x2D, {XK_Insert}},
    {0x2E, {XK_Delete}},
    {0x2F, {XK_Help}},
    {0x5B, {XK_Super_L}},
    {0x5C, {XK_Super_R}},
    {0x5D, {XK_Menu}},  // Applications
    {0x5F, {XF86XK_Sleep}},
    {0x6A, {XK_KP_Multiply}},
    {0x6B, {XK_KP_Add}},
    {0x6C, {XK_KP_Separator}},
    {0x6D, {XK_KP_Subtract}},
    {0x6E, {XK_KP_Decimal}},
    {0x6F, {XK_KP_Divide}},
    {0x90, {XK_Num_Lock}},
    {0x91, {XK_Scroll_Lock}},
    {0xA0, {XK_Shift_L}},
    {0xA1, {XK_Shift_R}},
    {0xA2, {XK_Control_L}},
    {0xA3, {XK_Control_R}},
    {0xA4, {XK_Alt_L}},
    {0xA5, {XK_Alt_R, XK_ISO_Level3_Shift}},  // AltGr where the layout has no right Alt
    {0xA6, {XF86XK_Back}},
    {0xA7, {XF86XK_Forward}},
    {0xA8, {XF86XK_Refresh}},
    {0xA9, {XF86XK_Stop}},
    {0xAA, {XF86XK_Search}},
    {0xAB, {XF86XK_Favorites}},
    {0xAC, {XF86XK_HomePage}},
    {0xAD, {XF86XK_AudioMute}},
    {0xAE, {XF86XK_AudioLowerVolume}},
    {0xAF, {XF86XK_AudioRaiseVolume}},
    {0xB0, {XF86XK_AudioNext}},
    {0xB1, {XF86XK_AudioPrev}},
    {0xB2, {XF86XK_AudioStop}},
    {0xB3, {XF86XK_AudioPlay}},
    {0xB4, {XF86XK_Mail}},
    {0xB5, {XF86XK_AudioMedia}},
    {0xB6, {XF86XK_MyComputer}},  // first application
    {0xB7, {XF86XK_Calculator}},  // second application
    {0xBA, {XK_semicolon}},
    {0xBB, {XK_equal}},
    {0xBC, {XK_comma}},
    {0xBD, {XK_minus}},
    {0xBE, {XK_period}},
    {0xBF, {XK_slash}},
    {0xC0, {XK_grave}},
    {0xDB, {XK_bracketleft}},
    {0xDC, {XK_backslash}},
    {0xDD, {XK_bracketright}},
    {0xDE, {XK_apostrophe}},
    {0xE2, {XK_less}},  // the extra key of 102-key keyboards
};

struct TKeyTable {
  std::array<std::array<KeySym, 2>, 256> Syms{};
  std::array<std::uint8_t, 256> Count{};

  TKeyTable() {
    for (const TKeyEntry& Entry : Keys) {
      Syms[Entry.VKey] = Entry.Syms;
      Count[Entry.VKey] = Entry.Syms[1] == NoSymbol ? 1 : 2;
    }
    for (int I = 0; I < 10; ++I) {
      Set(0x30 + I, XK_0 + I);
      Set(0x60 + I, XK_KP_0 + I);
    }
    for (int I = 0; I < 26; ++I) Set(0x41 + I, XK_a + I);
    for (int I = 0; I < 24; ++I) Set(0x70 + I, XK_F1 + I);
  }
  void Set(int AVKey, KeySym ASym) {
    Syms[AVKey] = {ASym, NoSymbol};
    Count[AVKey] = 1;
  }
};

}  // namespace

std::span<const KeySym> VirtualKeyKeySyms(std::uint16_t AVKey) {
  static const TKeyTable Table;
  if (AVKey >= Table.Syms.size()) return {};
  return {Table.Syms[AVKey].data(), Table.Count[AVKey]};
}

TKeySides GenericKeySides(std::uint16_t AVKey) {
  switch (AVKey) {
    case 0x10:
      return {0xA0, 0xA1};
    case 0x11:
      return {0xA2, 0xA3};
    case 0x12:
      return {0xA4, 0xA5};
    default:
      return {};
  }
}

}  // namespace halvora

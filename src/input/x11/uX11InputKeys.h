#pragma once

#include <X11/X.h>

#include <cstdint>
#include <span>

namespace halvora {

// The keysyms a Windows virtual-key code stands for, the preferred one first; empty for a
// code without one. Letters give their lower-case keysym, as the unshifted key does; the
// punctuation codes are those of the US layout; the generic Shift, Control and Alt codes give
// the left key.
std::span<const KeySym> VirtualKeyKeySyms(std::uint16_t AVKey);

// The left and right codes of a generic Shift (0x10), Control (0x11) or Alt (0x12) code;
// {0, 0} for any other code.
struct TKeySides {
  std::uint16_t Left = 0;
  std::uint16_t Right = 0;
};
TKeySides GenericKeySides(std::uint16_t AVKey);

}  // namespace halvora

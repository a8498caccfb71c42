#pragma once

#include <memory>
#include <string>

#include "input/uInputInjector.h"

namespace halvora {

// Input injection into an X server through XTest, over connections of its own (ADisplayName
// as for XOpenDisplay, empty for the DISPLAY variable), so it is made on the thread that uses
// it (the injection worker).
// - Pointer: virtual-screen pixels are moved by the layout's origin onto the root window;
//   buttons 1 to 3; the wheel as clicks of buttons 4 (away from the user) and 5, one per 120,
//   the remainder kept for the next turn in the same direction.
// - Keys: virtual-key codes become keysyms (uX11InputKeys.h) and those the current keymap's
//   keycodes. A keysym that no key carries is put on a spare keycode (one without keysyms),
//   borrowed until the next release or until the sink goes; keycode 0 is never sent.
// - The server does not auto-repeat injected keys (the viewer sends its own repeats): the
//   XTest keyboard's repeat is switched off, the physical keyboards' is left as it was, and
//   the XTest keyboard's setting is put back when the sink goes.
// - A release, and the sink's end, let go of every key injection still holds.
// Throws when the server cannot be reached or has no XTest.
std::unique_ptr<IInputSink> NewX11InputSink(const std::string& ADisplayName);

}  // namespace halvora

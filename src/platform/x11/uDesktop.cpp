#include "platform/uDesktop.h"

namespace halvora {

// X11 has no input desktops: a display's screen is the one desktop, and the sign-in and
// lock screens are ordinary clients on it (or another display altogether). So a thread is
// never moved.
bool SwitchToInputDesktop() { return false; }

}  // namespace halvora

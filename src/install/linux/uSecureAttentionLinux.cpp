#include "install/uSecureAttention.h"

namespace halvora {

// X11 offers no way for a program to raise the secure attention sequence: the display
// server or the virtual terminal handles Ctrl+Alt+Del itself.
bool RaiseSecureAttention() {
  return false;
}

}  // namespace halvora

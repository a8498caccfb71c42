#pragma once

namespace halvora {

// Attaches the calling thread to the desktop that receives input when that differs from the
// thread's own desktop; true exactly when the thread was moved. Each thread tracks its own
// desktop.
bool SwitchToInputDesktop();

}  // namespace halvora

#pragma once

#include <X11/Xlib.h>

#include <string>

namespace halvora {

// A connection to the X server, used by one thread. X errors of its requests are recorded
// instead of ending the process (as Xlib's default handler would), so a refused request
// only makes that request fail.
class TX11Connection {
 public:
  // ADisplayName as for XOpenDisplay; empty means the DISPLAY variable. Throws
  // EPlatformError when the server cannot be reached.
  explicit TX11Connection(const std::string& ADisplayName);
  ~TX11Connection();
  TX11Connection(const TX11Connection&) = delete;
  TX11Connection& operator=(const TX11Connection&) = delete;

  Display* Handle() const { return FDisplay; }
  // Waits until the server has handled every request sent so far; true when none of them
  // failed since the last Sync.
  bool Sync();

 private:
  Display* FDisplay;
};

}  // namespace halvora

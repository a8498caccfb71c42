#pragma once

#include <memory>
#include <string>
#include <vector>

#include "support/linux/uChildProcess.h"

namespace halvora::test {

// A private X server for one test: Xvfb on a display number it picks itself (-displayfd),
// kept alive across client disconnects (-noreset). Stopped when the object goes.
class TXvfb {
 public:
  // AScreen as Xvfb's -screen argument, e.g. "1024x768x24". Throws when no server starts.
  explicit TXvfb(const std::string& AScreen = "1024x768x24");
  ~TXvfb();
  TXvfb(const TXvfb&) = delete;
  TXvfb& operator=(const TXvfb&) = delete;

  const std::string& Display() const { return FDisplay; }  // ":<n>"

 private:
  std::unique_ptr<TChildProcess> FServer;
  std::string FDisplay;
};

// True when AProgram is found on the PATH.
bool ProgramOnPath(const std::string& AProgram);

// Runs xrandr with AArgs on ADisplay; true when it succeeded.
bool Xrandr(const std::string& ADisplay, const std::vector<std::string>& AArgs);

// A 1600 × 600 screen with three RandR monitors, in protocol order: "Primary" 640 × 600 at
// (640, 0), "Left" 640 × 480 at (0, 0) and "Right" 320 × 240 at (1280, 100). Null when xrandr
// is missing.
std::unique_ptr<TXvfb> NewThreeMonitorXvfb();
inline const std::vector<std::string> PrimaryMonitorArgs = {"--setmonitor", "*Primary",
                                                            "640/169x600/159+640+0", "screen"};

}  // namespace halvora::test

#pragma once

#include <memory>
#include <string>

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

}  // namespace halvora::test

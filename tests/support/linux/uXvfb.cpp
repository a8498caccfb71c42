#include "support/linux/uXvfb.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace halvora::test {

TXvfb::TXvfb(const std::string& AScreen) {
  std::string Number;
  // The server writes its display number into the pipe.
  FServer = StartReportingLine(
      "/usr/bin/Xvfb",
      [&](const std::string& AFd) {
        return std::vector<std::string>{"-displayfd", AFd,       "-noreset", "-nolisten",
                                        "tcp",        "-screen", "0",        AScreen};
      },
      Number);
  if (Number.empty()) throw std::runtime_error("Xvfb did not start");
  FDisplay = ":" + Number;
}

TXvfb::~TXvfb() = default;

bool ProgramOnPath(const std::string& AProgram) {
  const char* Path = std::getenv("PATH");
  std::istringstream Folders(Path ? Path : "");
  std::string Folder;
  while (std::getline(Folders, Folder, ':'))
    if (!Folder.empty() && access((Folder + "/" + AProgram).c_str(), X_OK) == 0) return true;
  return false;
}

bool Xrandr(const std::string& ADisplay, const std::vector<std::string>& AArgs) {
  TChildProcess Program("/usr/bin/xrandr", AArgs, {"DISPLAY=" + ADisplay});
  return Program.Wait(std::chrono::seconds(10)) == 0;
}

std::unique_ptr<TXvfb> NewThreeMonitorXvfb() {
  if (access("/usr/bin/xrandr", X_OK) != 0) return nullptr;
  auto Server = std::make_unique<TXvfb>("1600x600x24");
  // The primary takes the server's one output, which would otherwise be a monitor too.
  if (!Xrandr(Server->Display(), {"--setmonitor", "Left", "640/169x480/127+0+0", "none"}) ||
      !Xrandr(Server->Display(), PrimaryMonitorArgs) ||
      !Xrandr(Server->Display(), {"--setmonitor", "Right", "320/85x240/64+1280+100", "none"}))
    throw std::runtime_error("xrandr could not set the monitors");
  return Server;
}

}  // namespace halvora::test

// A clipboard file transfer of 200 MB in 2,000 files through the relay on loopback, both
// ways: viewer to host (stored and put on the host's clipboard) and host to viewer (copied on
// the host with xclip). Reports MB/s each way and the host's peak memory.
//   clipboard_relay_bench [--files N] [--size BYTES]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "e2e/uEndToEnd.h"

namespace halvora::test {
namespace {

namespace fs = std::filesystem;
using TClock = std::chrono::steady_clock;

double StatusMiB(pid_t APid, const std::string& AField) {
  std::ifstream File("/proc/" + std::to_string(APid) + "/status");
  for (std::string Line; std::getline(File, Line);)
    if (Line.rfind(AField + ":", 0) == 0) return std::stod(Line.substr(AField.size() + 1)) / 1024;
  return 0;
}

std::string Xclip(const std::string& ADisplay, const std::vector<std::string>& AArgs,
                  const std::string& AOut) {
  std::vector<std::string> Args{"-selection", "clipboard"};
  Args.insert(Args.end(), AArgs.begin(), AArgs.end());
  TChildProcess Program("/usr/bin/xclip", Args, {"DISPLAY=" + ADisplay}, AOut);
  Program.Wait(10s);
  return AOut.empty() ? std::string() : ReadFile(AOut);
}

int Run(int AFiles, std::size_t ASize) {
  TTempFolder Temp;
  auto Folder = [&](const std::string& AName) {
    fs::create_directories(Temp.Path(AName));
    return Temp.Path(AName);
  };
  const std::string Outgoing = Folder("outgoing/Lote");
  const std::string Block(ASize, 'h');
  for (int I = 0; I < AFiles; ++I) {
    const std::string Sub = Outgoing + "/pasta-" + std::to_string(I % 10);
    fs::create_directories(Sub);
    WriteFile(Sub + "/arquivo-" + std::to_string(I) + ".bin", Block);
  }
  const double Megabytes = static_cast<double>(ASize) * AFiles / 1e6;

  TXvfb X;
  TRelayProcess Relay(Folder("relay"));
  const std::string HostFolder = Folder("host");
  THostProcess Host(HostFolder, LinuxHost(HostFolder, X.Display()), Relay.Url());
  if (!Host.WaitState([](const nlohmann::json& S) { return S["id"] != "" && S["password"] != ""; }))
    return std::fprintf(stderr, "the host did not register\n"), 1;
  const pid_t Pid = Host.Process().Pid();
  const double RssBefore = StatusMiB(Pid, "VmRSS");
  TViewerProcess Viewer(Folder("viewer"), Relay.Url(),
                        {"--id", Host.State()["id"], "--password", Host.State()["password"],
                         "--timeout", "900"},
                        "wait-frames 1\nclip-files \"" + Outgoing +
                            "\"\nwait-for 115 600000\nwait 500\nend\n");
  while (Viewer.Log().find(" 103 ") == std::string::npos) std::this_thread::sleep_for(5ms);
  const auto T0 = TClock::now();
  std::string UriList;
  const std::string Out = Temp.Path("xclip-out");
  while ((UriList = Xclip(X.Display(), {"-o", "-t", "text/uri-list"}, Out)).rfind("file://", 0) !=
         0)
    std::this_thread::sleep_for(20ms);
  const double Up = std::chrono::duration<double>(TClock::now() - T0).count();
  std::printf("viewer to host: %.0f MB in %d files in %.2f s = %.1f MB/s; host peak RSS %.1f MiB\n",
              Megabytes, AFiles, Up, Megabytes / Up, StatusMiB(Pid, "VmHWM"));

  // The stored folder, copied again on the host, goes back to the viewer.
  const std::string Stored = UriList.substr(0, UriList.find_first_of("\r\n"));
  WriteFile(Temp.Path("xclip-in"), Stored + "\r\n");
  const auto T1 = TClock::now();
  Xclip(X.Display(), {"-t", "text/uri-list", "-i", Temp.Path("xclip-in")}, {});
  while (Viewer.Log().find(" 115 5 ") == std::string::npos) std::this_thread::sleep_for(5ms);
  const double Down = std::chrono::duration<double>(TClock::now() - T1).count();
  std::printf("host to viewer: %.0f MB in %d files in %.2f s = %.1f MB/s\n", Megabytes, AFiles,
              Down, Megabytes / Down);
  std::printf("host RSS before %.1f MiB, peak (VmHWM) %.1f MiB\n", RssBefore,
              StatusMiB(Pid, "VmHWM"));
  return Viewer.Wait(60s) == 0 ? 0 : 1;
}

}  // namespace
}  // namespace halvora::test

int main(int argc, char** argv) {
  int Files = 2000;
  std::size_t Size = 100000;
  for (int I = 1; I + 1 < argc; I += 2) {
    if (std::strcmp(argv[I], "--files") == 0) Files = std::atoi(argv[I + 1]);
    if (std::strcmp(argv[I], "--size") == 0) Size = std::strtoull(argv[I + 1], nullptr, 10);
  }
  return halvora::test::Run(Files, Size);
}

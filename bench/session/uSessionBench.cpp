// A streaming session of the host on two 1920 × 1080 monitors (Xvfb), relay and viewer as
// separate processes: the host's CPU on a still screen, then its memory while the screen
// keeps changing.
//   session_bench [--still SECONDS] [--changing MINUTES]
#include <X11/Xlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>

#include "e2e/uEndToEnd.h"

namespace halvora::test {
namespace {

constexpr int Width = 3840, Height = 1080;

// User plus system CPU time of a process in seconds.
double CpuSeconds(pid_t APid) {
  std::ifstream Stat("/proc/" + std::to_string(APid) + "/stat");
  std::string Text((std::istreambuf_iterator<char>(Stat)), std::istreambuf_iterator<char>());
  std::istringstream Fields(Text.substr(Text.rfind(')') + 2));
  std::string Field;
  unsigned long long UTime = 0, STime = 0;
  for (int I = 3; I <= 15 && Fields >> Field; ++I) {
    if (I == 14) UTime = std::stoull(Field);
    if (I == 15) STime = std::stoull(Field);
  }
  return static_cast<double>(UTime + STime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A field of /proc/<pid>/status in MiB (VmRSS, VmHWM).
double StatusMiB(pid_t APid, const std::string& AField) {
  std::ifstream File("/proc/" + std::to_string(APid) + "/status");
  for (std::string Line; std::getline(File, Line);)
    if (Line.rfind(AField + ":", 0) == 0) return std::stod(Line.substr(AField.size() + 1)) / 1024;
  return 0;
}

int Frames(const TViewerProcess& AViewer) {
  const std::string Log = AViewer.Log();
  const std::regex Frame(R"((^|\n)\d+ 103 )");
  return static_cast<int>(
      std::distance(std::sregex_iterator(Log.begin(), Log.end(), Frame), std::sregex_iterator()));
}

// Draws on the root: a desktop of soft bands, then typing-sized changes and now and then a
// window's worth of new content.
class TPainter {
 public:
  explicit TPainter(const std::string& ADisplay) : FDisplay(XOpenDisplay(ADisplay.c_str())) {
    FRoot = DefaultRootWindow(FDisplay);
    FGc = DefaultGC(FDisplay, DefaultScreen(FDisplay));
    for (int Y = 0; Y < Height; Y += 4)
      Fill(0, Y, Width, 4, 0x203040 + (Y / 4 % 64) * 0x010101);
    XSync(FDisplay, False);
  }
  ~TPainter() { XCloseDisplay(FDisplay); }

  // One step of 40 ms of activity.
  void Step() {
    ++FStep;
    const int Column = FStep % 120, Line = FStep / 120 % 40;
    Fill(100 + Column * 9, 100 + Line * 18, 8, 14, 0xE0E0E0);  // a letter
    Fill(2020 + Column * 9, 500 + Line * 12, 8, 10, 0x101010);
    if (FStep % 25 == 0) {  // once a second, a window repaints
      const int X = (FStep / 25 % 4) * 900;
      for (int Y = 200; Y < 800; Y += 3)
        Fill(X, Y, 800, 3, (FStep * 0x1F3D5B + Y * 0x010203) & 0xFFFFFF);
    }
    XSync(FDisplay, False);
  }

 private:
  void Fill(int AX, int AY, int AW, int AH, unsigned long AColour) {
    XSetForeground(FDisplay, FGc, AColour);
    XFillRectangle(FDisplay, FRoot, FGc, AX, AY, AW, AH);
  }

  Display* FDisplay;
  Window FRoot;
  GC FGc;
  int FStep = 0;
};

int Run(int AStillSeconds, int AChangingMinutes) {
  TTempFolder Temp;
  auto Folder = [&](const std::string& AName) {
    std::filesystem::create_directories(Temp.Path(AName));
    return Temp.Path(AName);
  };
  TXvfb X("3840x1080x24");
  for (const std::vector<std::string>& Args :
       {std::vector<std::string>{"--setmonitor", "*A", "1920/508x1080/286+0+0", "screen"},
        std::vector<std::string>{"--setmonitor", "B", "1920/508x1080/286+1920+0", "none"}}) {
    TChildProcess Xrandr("/usr/bin/xrandr", Args, {"DISPLAY=" + X.Display()});
    if (Xrandr.Wait(10s) != 0) return std::fprintf(stderr, "xrandr failed\n"), 1;
  }
  TPainter Painter(X.Display());
  TRelayProcess Relay(Folder("relay"));
  const std::string HostFolder = Folder("host");
  THostProcess Host(HostFolder, LinuxHost(HostFolder, X.Display()), Relay.Url());
  if (!Host.WaitState([](const nlohmann::json& S) { return S["id"] != "" && S["password"] != ""; }))
    return std::fprintf(stderr, "the host did not register\n"), 1;
  const pid_t Pid = Host.Process().Pid();
  const int TotalSeconds = 10 + AStillSeconds + AChangingMinutes * 60 + 10;
  TViewerProcess Viewer(Folder("viewer"), Relay.Url(),
                        {"--id", Host.State()["id"], "--password", Host.State()["password"],
                         "--timeout", std::to_string(TotalSeconds + 30)},
                        "wait-frames 2 20000\nwait " + std::to_string(TotalSeconds * 1000) +
                            "\nend\n");
  for (int I = 0; I < 400 && Frames(Viewer) < 2; ++I) std::this_thread::sleep_for(50ms);
  if (Frames(Viewer) < 2) return std::fprintf(stderr, "no frames\n%s", Viewer.Output().c_str()), 1;
  std::this_thread::sleep_for(3s);

  const double Cpu0 = CpuSeconds(Pid);
  const auto T0 = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(AStillSeconds));
  const double Wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - T0).count();
  std::printf("still screen: host CPU %.2f %% of one core over %.0f s; RSS %.1f MiB\n",
              100 * (CpuSeconds(Pid) - Cpu0) / Wall, Wall, StatusMiB(Pid, "VmRSS"));
  std::fflush(stdout);

  const int FramesBefore = Frames(Viewer);
  const auto Start = std::chrono::steady_clock::now();
  const auto End = Start + std::chrono::minutes(AChangingMinutes);
  double AfterFirstMinuteMin = 1e9, AfterFirstMinuteMax = 0;
  auto NextSample = Start + 30s;
  const double Cpu1 = CpuSeconds(Pid);
  for (auto Next = Start; Next < End; Next += 40ms) {
    Painter.Step();
    std::this_thread::sleep_until(Next + 40ms);
    const auto Now = std::chrono::steady_clock::now();
    if (Now >= NextSample) {
      NextSample += 30s;
      const double Rss = StatusMiB(Pid, "VmRSS");
      const double Minutes = std::chrono::duration<double>(Now - Start).count() / 60;
      std::printf("  %5.1f min: RSS %.1f MiB, %d frames\n", Minutes, Rss,
                  Frames(Viewer) - FramesBefore);
      std::fflush(stdout);
      if (Minutes >= 1) {
        AfterFirstMinuteMin = std::min(AfterFirstMinuteMin, Rss);
        AfterFirstMinuteMax = std::max(AfterFirstMinuteMax, Rss);
      }
    }
  }
  const double Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  std::printf("changing screen for %.1f min: %d frames (%.1f/s), host CPU %.1f %% of one core\n",
              Seconds / 60, Frames(Viewer) - FramesBefore, (Frames(Viewer) - FramesBefore) / Seconds,
              100 * (CpuSeconds(Pid) - Cpu1) / Seconds);
  std::printf("host peak RSS (VmHWM) %.1f MiB; RSS after the first minute %.1f to %.1f MiB\n",
              StatusMiB(Pid, "VmHWM"), AfterFirstMinuteMin, AfterFirstMinuteMax);
  return 0;
}

}  // namespace
}  // namespace halvora::test

int main(int argc, char** argv) {
  int Still = 30, Changing = 10;
  for (int I = 1; I + 1 < argc; I += 2) {
    if (std::strcmp(argv[I], "--still") == 0) Still = std::atoi(argv[I + 1]);
    if (std::strcmp(argv[I], "--changing") == 0) Changing = std::atoi(argv[I + 1]);
  }
  return halvora::test::Run(Still, Changing);
}

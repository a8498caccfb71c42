// The program itself, started as separate processes on a private X server: one copy per
// display, a copy after a crash, and the agent's window that closes into the tray.
#include <gtest/gtest.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "support/linux/uChildProcess.h"
#include "support/linux/uXvfb.h"
#include "support/uTestFiles.h"

namespace halvora {
namespace {

using namespace std::chrono_literals;

using test::WaitUntil;

// Looks at the program's top-level windows from outside, as a window manager would.
class TWindowProbe {
 public:
  explicit TWindowProbe(const std::string& ADisplay) : FDisplay(XOpenDisplay(ADisplay.c_str())) {}
  ~TWindowProbe() {
    if (FDisplay) XCloseDisplay(FDisplay);
  }
  bool Connected() const { return FDisplay != nullptr; }

  // The window titled "Halvora" that process APid made; None while there is none.
  Window MainWindow(pid_t APid) {
    const Atom PidAtom = XInternAtom(FDisplay, "_NET_WM_PID", False);
    Window Root, Parent, *Children = nullptr;
    unsigned Count = 0;
    Window Result = None;
    if (!XQueryTree(FDisplay, DefaultRootWindow(FDisplay), &Root, &Parent, &Children, &Count))
      return None;
    for (unsigned I = 0; I < Count && Result == None; ++I) {
      char* Name = nullptr;
      const bool Titled = XFetchName(FDisplay, Children[I], &Name) && Name &&
                          std::string(Name) == "Halvora";
      if (Name) XFree(Name);
      if (Titled && CardinalProperty(Children[I], PidAtom) == static_cast<long>(APid))
        Result = Children[I];
    }
    if (Children) XFree(Children);
    return Result;
  }

  bool Viewable(pid_t APid) {
    const Window W = MainWindow(APid);
    XWindowAttributes Attributes;
    return W != None && XGetWindowAttributes(FDisplay, W, &Attributes) &&
           Attributes.map_state == IsViewable;
  }

  // What a window manager sends when the user clicks the close box.
  void AskToClose(Window AWindow) {
    XEvent Event{};
    Event.xclient.type = ClientMessage;
    Event.xclient.window = AWindow;
    Event.xclient.message_type = XInternAtom(FDisplay, "WM_PROTOCOLS", False);
    Event.xclient.format = 32;
    Event.xclient.data.l[0] = static_cast<long>(XInternAtom(FDisplay, "WM_DELETE_WINDOW", False));
    Event.xclient.data.l[1] = CurrentTime;
    XSendEvent(FDisplay, AWindow, False, NoEventMask, &Event);
    XFlush(FDisplay);
  }

 private:
  long CardinalProperty(Window AWindow, Atom AProperty) {
    Atom Type;
    int Format;
    unsigned long Items, After;
    unsigned char* Data = nullptr;
    long Value = -1;
    if (XGetWindowProperty(FDisplay, AWindow, AProperty, 0, 1, False, XA_CARDINAL, &Type, &Format,
                           &Items, &After, &Data) == Success &&
        Data && Items == 1)
      Value = *reinterpret_cast<long*>(Data);
    if (Data) XFree(Data);
    return Value;
  }

  Display* FDisplay;
};

// A private X server and a private home: settings that point at a relay nobody listens on,
// and a runtime folder of the user's own for the single-instance marker.
class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    Runtime = Temp.Path("run");
    std::filesystem::create_directory(Runtime);
    chmod(Runtime.c_str(), 0700);
    test::WriteFile(Temp.Path("config/halvora/halvora.ini"),
                    "[Server]\nUrl=ws://127.0.0.1:9/relay\n");
    ASSERT_TRUE(Probe.Connected());
  }

  std::unique_ptr<test::TChildProcess> Start(std::vector<std::string> AArgs = {}) {
    return std::make_unique<test::TChildProcess>(
        HALVORA_PROGRAM, AArgs,
        std::vector<std::string>{"DISPLAY=" + X.Display(), "HOME=" + Temp.Path("home"),
                                 "XDG_CONFIG_HOME=" + Temp.Path("config"),
                                 "XDG_RUNTIME_DIR=" + Runtime, "QT_QPA_PLATFORM=xcb"});
  }

  // True once a copy holds the display: its socket is in the runtime folder.
  bool MarkerHeld() {
    for (const auto& Entry : std::filesystem::directory_iterator(Runtime))
      if (Entry.is_socket()) return true;
    return false;
  }

  test::TXvfb X;
  test::TTempFolder Temp;
  std::string Runtime;
  TWindowProbe Probe{X.Display()};
};

TEST_F(Program, ASecondCopyExitsAndTheAgentComesForward) {
  auto Agent = Start({"/agente"});
  ASSERT_TRUE(WaitUntil([&] { return MarkerHeld(); }));
  EXPECT_FALSE(Probe.Viewable(Agent->Pid()));  // the agent starts hidden

  auto Second = Start();
  EXPECT_EQ(Second->Wait(15s), 0);
  EXPECT_TRUE(WaitUntil([&] { return Probe.Viewable(Agent->Pid()); }));
  EXPECT_TRUE(Agent->Running());
}

TEST_F(Program, ACopyStartsAfterTheFirstCrashedAndEndsWhenClosed) {
  auto First = Start();
  ASSERT_TRUE(WaitUntil([&] { return Probe.Viewable(First->Pid()); }));
  First->Kill(SIGKILL);
  ASSERT_TRUE(First->Wait(5s));

  auto Second = Start();
  ASSERT_TRUE(WaitUntil([&] { return Probe.Viewable(Second->Pid()); }));
  EXPECT_TRUE(Second->Running());

  Probe.AskToClose(Probe.MainWindow(Second->Pid()));
  EXPECT_EQ(Second->Wait(15s), 0);
}

TEST_F(Program, ClosingTheAgentHidesItInTheTray) {
  if (!test::ProgramOnPath("trayer")) GTEST_SKIP() << "trayer is not installed";
  test::TChildProcess Trayer("/usr/bin/trayer", {}, {"DISPLAY=" + X.Display()});
  auto Agent = Start({"/agente"});
  ASSERT_TRUE(WaitUntil([&] { return MarkerHeld(); }));
  ASSERT_EQ(Start()->Wait(15s), 0);  // brings the agent's window forward
  ASSERT_TRUE(WaitUntil([&] { return Probe.Viewable(Agent->Pid()); }));

  Probe.AskToClose(Probe.MainWindow(Agent->Pid()));
  EXPECT_TRUE(WaitUntil([&] { return !Probe.Viewable(Agent->Pid()); }));
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(Agent->Running());
}

}  // namespace
}  // namespace halvora

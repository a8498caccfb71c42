// The technician's mouse and keyboard through the relay into an X client on the host's
// screen, and the answers to blocking requests.
#include <gtest/gtest.h>

// Before Xlib, whose macros clash with its names.
#include "uRelayTestClient.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "e2e/uEndToEndFixture.h"

namespace halvora::test {
namespace {

class RemoteInput : public TEndToEndTest {
 protected:
  TXvfb X;
};

// A window over the whole screen, above the host's, with the keyboard focus, that reports
// keys and buttons.
Window CoverScreen(Display* AD) {
  const Window W = XCreateSimpleWindow(AD, DefaultRootWindow(AD), 0, 0, 1024, 768, 0, 0, 0x336699);
  XSetWindowAttributes Attributes;
  Attributes.override_redirect = True;
  XChangeWindowAttributes(AD, W, CWOverrideRedirect, &Attributes);
  XSelectInput(AD, W, KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask);
  XMapRaised(AD, W);
  XSync(AD, False);
  XSetInputFocus(AD, W, RevertToParent, CurrentTime);
  XSync(AD, False);
  return W;
}

TEST_F(RemoteInput, ClicksAndKeysReachAWindowAndBlockingIsAnswered) {
  auto Relay = StartRelay();
  auto Host = StartHost(*Relay, X.Display());
  ASSERT_TRUE(Host->WaitState(IsReady));

  Display* D = XOpenDisplay(X.Display().c_str());
  ASSERT_NE(D, nullptr);
  CoverScreen(D);

  auto Viewer = Technician(*Relay, *Host,
                           "wait-frames 1\n"
                           "click 0 600 500 right\n"
                           "type ab\n"
                           "block 1\nwait-for 110 5000\n"
                           "block 1\nwait-for 110 5000\n"
                           "block 0\nwait-for 110 5000\n"
                           "wait 500\nend\n");
  ASSERT_EQ(Viewer->Wait(), 0) << Viewer->Output();

  struct TSeen {
    int Type;
    unsigned Detail;  // button, or keysym
    int X, Y;
    bool operator==(const TSeen&) const = default;
  };
  std::vector<TSeen> Seen;
  XSync(D, False);
  while (XPending(D)) {
    XEvent E;
    XNextEvent(D, &E);
    if (E.type == ButtonPress || E.type == ButtonRelease)
      Seen.push_back({E.type, E.xbutton.button, E.xbutton.x, E.xbutton.y});
    else if (E.type == KeyPress || E.type == KeyRelease)
      Seen.push_back(
          {E.type, static_cast<unsigned>(XLookupKeysym(&E.xkey, 0)), 0, 0});
  }
  XCloseDisplay(D);
  EXPECT_EQ(Seen, (std::vector<TSeen>{{ButtonPress, 3, 600, 500},
                                      {ButtonRelease, 3, 600, 500},
                                      {KeyPress, XK_a, 0, 0},
                                      {KeyRelease, XK_a, 0, 0},
                                      {KeyPress, XK_b, 0, 0},
                                      {KeyRelease, XK_b, 0, 0}}));
  // Every blocking request is answered with the state that holds afterwards.
  const std::string Log = Viewer->Log();
  std::vector<std::string> Answers;
  for (std::size_t At = Log.find(" 110 1 "); At != std::string::npos; At = Log.find(" 110 1 ", At + 1))
    Answers.push_back(Log.substr(At + 7, Log.find('\n', At) - At - 7));
  EXPECT_EQ(Answers, (std::vector<std::string>{"flag=1", "flag=1", "flag=0"})) << Log;
}

// A stranger who knows only the ID asks for the host over and over with mouse and key
// messages behind every request, while admitted technicians come and go: whenever a session
// ends the relay pairs the stranger at once, and nothing the stranger sends may reach the
// desktop.
TEST_F(RemoteInput, AStrangerWithOnlyTheIdNeverReachesTheDesktop) {
  auto Relay = StartRelay();
  auto Host = StartHost(*Relay, X.Display());
  ASSERT_TRUE(Host->WaitState(IsReady));
  const std::string Id = Host->State()["id"];
  Display* D = XOpenDisplay(X.Display().c_str());
  ASSERT_NE(D, nullptr);
  CoverScreen(D);

  const std::string Click{0, '\xFF', '\x7F', '\xFF', '\x7F', 1, 0, 0};  // left down mid-screen
  const std::string KeyZ{'Z', 0, 1};
  for (int Round = 0; Round < 3; ++Round) {
    SCOPED_TRACE(Round);
    auto Admitted = Technician(*Relay, *Host, "wait 800\nend\n");
    ASSERT_TRUE(Host->WaitState([](const nlohmann::json& S) { return S["role"] == srHost; }));
    std::atomic<bool> Stop{false};
    std::thread Stranger([&] {
      relay::test::TRelayTestClient Client(Relay->Port());
      Client.Send(1, "2|A|");
      while (!Stop) {
        Client.Send(50, Id + "|Intruso|");
        for (int I = 0; I < 20; ++I) {
          Client.Send(105, Click);
          Client.Send(106, KeyZ);
        }
        while (Client.Receive(std::chrono::milliseconds(1))) {
        }
      }
    });
    EXPECT_EQ(Admitted->Wait(), 0) << Admitted->Output();
    // The stranger now holds the pairing and sends on; the host asks for a proof it never gets.
    const bool Asked = Host->WaitState([](const nlohmann::json& S) { return S["role"] != srHost; });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Stop = true;
    Stranger.join();
    ASSERT_TRUE(Asked);
    ASSERT_TRUE(Host->WaitState([](const nlohmann::json& S) { return S["role"] == srNone; }));
  }
  XSync(D, False);
  int Events = 0;
  while (XPending(D)) {
    XEvent E;
    XNextEvent(D, &E);
    ++Events;
  }
  XCloseDisplay(D);
  EXPECT_EQ(Events, 0);
}

}  // namespace
}  // namespace halvora::test

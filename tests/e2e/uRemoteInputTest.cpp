// The technician's mouse and keyboard through the relay into an X client on the host's
// screen, and the answers to blocking requests.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/uEndToEndFixture.h"

namespace halvora::test {
namespace {

class RemoteInput : public TEndToEndTest {
 protected:
  TXvfb X;
};

TEST_F(RemoteInput, ClicksAndKeysReachAWindowAndBlockingIsAnswered) {
  auto Relay = StartRelay();
  auto Host = StartHost(*Relay, X.Display());
  ASSERT_TRUE(Host->WaitState(IsReady));

  // A window over the whole screen, above the host's, with the keyboard focus.
  Display* D = XOpenDisplay(X.Display().c_str());
  ASSERT_NE(D, nullptr);
  const Window W = XCreateSimpleWindow(D, DefaultRootWindow(D), 0, 0, 1024, 768, 0, 0, 0x336699);
  XSetWindowAttributes Attributes;
  Attributes.override_redirect = True;
  XChangeWindowAttributes(D, W, CWOverrideRedirect, &Attributes);
  XSelectInput(D, W, KeyPressMask | KeyReleaseMask | ButtonPressMask | ButtonReleaseMask);
  XMapRaised(D, W);
  XSync(D, False);
  XSetInputFocus(D, W, RevertToParent, CurrentTime);
  XSync(D, False);

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

}  // namespace
}  // namespace halvora::test

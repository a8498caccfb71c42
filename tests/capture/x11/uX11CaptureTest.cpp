#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/Xrender.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "capture/uScreenCapture.h"
#include "platform/x11/uX11Connection.h"
#include "capture/x11/uX11Grabber.h"
#include "platform/x11/uX11Monitors.h"
#include "capture/x11/uX11ScreenSource.h"
#include "support/linux/uXvfb.h"
#include "uCaptureTestSupport.h"

namespace halvora {
namespace {

using test::TChildProcess;
using test::TXvfb;


// Three monitors on a 1600 × 600 root, the primary in the middle, each painted in its own
// colour with a white 20 × 20 mark at (30, 40) of the monitor.
struct TMonitor {
  TRect Root;
  unsigned long Colour;  // 0xRRGGBB
};
const TMonitor cLeft{{0, 0, 640, 480}, 0x2060A0};
const TMonitor cPrimary{{640, 0, 1280, 600}, 0xC03020};
const TMonitor cRight{{1280, 100, 1600, 340}, 0x30A050};
const TMonitor cInOrder[] = {cPrimary, cLeft, cRight};
constexpr TPoint cOrigin{640, 0};  // the primary's top-left corner on the root
constexpr unsigned long White = 0xFFFFFF;
constexpr unsigned long Magenta = 0xFF00FF;

TRect Virtual(const TRect& ARoot) {
  return {ARoot.Left - cOrigin.X, ARoot.Top - cOrigin.Y, ARoot.Right - cOrigin.X,
          ARoot.Bottom - cOrigin.Y};
}

unsigned long At(const TGrabBuffer& ABuffer, int AX, int AY) {
  const std::uint8_t* P = ABuffer.Bits + AY * ABuffer.Pitch + AX * 4;
  return static_cast<unsigned long>(P[2]) << 16 | P[1] << 8 | P[0];
}

// The bounding box of the pixels of colour AColour and how many there are.
std::pair<TRect, int> Find(const TGrabBuffer& ABuffer, int AWidth, int AHeight,
                           unsigned long AColour) {
  TRect Box{AWidth, AHeight, 0, 0};
  int Count = 0;
  for (int Y = 0; Y < AHeight; ++Y)
    for (int X = 0; X < AWidth; ++X)
      if (At(ABuffer, X, Y) == AColour) {
        Box = {std::min(Box.Left, X), std::min(Box.Top, Y), std::max(Box.Right, X + 1),
               std::max(Box.Bottom, Y + 1)};
        ++Count;
      }
  return {Box, Count};
}

// How many System V shared-memory segments this process has mapped, and how many of them
// are already marked for removal.
std::pair<int, int> SharedSegments() {
  std::ifstream Maps("/proc/self/maps");
  std::pair<int, int> Count;
  for (std::string Line; std::getline(Maps, Line);)
    if (Line.find("/SYSV") != std::string::npos) {
      ++Count.first;
      Count.second += Line.find("(deleted)") != std::string::npos;
    }
  return Count;
}

class X11CaptureTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { FServer = test::NewThreeMonitorXvfb(); }
  static void TearDownTestSuite() { FServer.reset(); }

  void SetUp() override {
    if (!FServer) GTEST_SKIP() << "xrandr is missing";
    FDisplay = XOpenDisplay(FServer->Display().c_str());
    ASSERT_NE(FDisplay, nullptr);
    FRoot = DefaultRootWindow(FDisplay);
    Fill({0, 0, 1600, 600}, 0);
    for (const TMonitor& Monitor : cInOrder) {
      Fill(Monitor.Root, Monitor.Colour);
      Fill({Monitor.Root.Left + 30, Monitor.Root.Top + 40, Monitor.Root.Left + 50,
            Monitor.Root.Top + 60},
           White);
    }
    MovePointer(1590, 590);  // on the root, off every monitor
  }
  void TearDown() override {
    if (FDisplay) XCloseDisplay(FDisplay);
  }

  void Fill(const TRect& ARoot, unsigned long AColour) {
    GC Gc = DefaultGC(FDisplay, DefaultScreen(FDisplay));
    XSetForeground(FDisplay, Gc, AColour);
    XFillRectangle(FDisplay, FRoot, Gc, ARoot.Left, ARoot.Top,
                   static_cast<unsigned>(ARoot.Right - ARoot.Left),
                   static_cast<unsigned>(ARoot.Bottom - ARoot.Top));
    XSync(FDisplay, False);
  }
  void MovePointer(int AX, int AY) {
    XWarpPointer(FDisplay, None, FRoot, 0, 0, 0, 0, AX, AY);
    XSync(FDisplay, False);
  }

  static inline std::unique_ptr<TXvfb> FServer;
  Display* FDisplay = nullptr;
  Window FRoot = 0;
};

TEST_F(X11CaptureTest, ListsTheRandrMonitorsPrimaryFirst) {
  const TMonitorLayout Layout = GetMonitorLayout(*NewX11MonitorSource(FServer->Display()));
  EXPECT_EQ(Layout.Rects,
            (std::vector<TRect>{{0, 0, 640, 600}, {-640, 0, 0, 480}, {640, 100, 960, 340}}));
  EXPECT_EQ(Layout.Origin, cOrigin);
}

class X11GrabberTest : public X11CaptureTest, public testing::WithParamInterface<bool> {};

TEST_P(X11GrabberTest, CopiesEachMonitorAndClipsToTheRoot) {
  for (const TMonitor& Monitor : cInOrder) {
    const TRect Area = Virtual(Monitor.Root);
    const int Width = Area.Right - Area.Left, Height = Area.Bottom - Area.Top;
    const auto Grabber = NewX11ScreenGrabber(FServer->Display(), cOrigin, GetParam());
    const TGrabBuffer Buffer = Grabber->Alloc(Width, Height);
    ASSERT_NE(Buffer.Bits, nullptr);
    const int Segments = GetParam() ? 1 : 0;
    EXPECT_EQ(SharedSegments(), std::make_pair(Segments, Segments));
    TDamageRegion Damage;
    Grabber->Grab({Area.Left, Area.Top}, Damage);
    EXPECT_EQ(At(Buffer, 0, 0), Monitor.Colour);
    EXPECT_EQ(At(Buffer, 29, 39), Monitor.Colour);
    EXPECT_EQ(Find(Buffer, Width, Height, White), std::make_pair(TRect{30, 40, 50, 60}, 400));
    EXPECT_EQ(At(Buffer, Width - 1, Height - 1), Monitor.Colour);
  }
  // An area reaching 50 pixels beyond the root's top-left corner.
  const auto Grabber = NewX11ScreenGrabber(FServer->Display(), cOrigin, GetParam());
  const TGrabBuffer Buffer = Grabber->Alloc(100, 100);
  TDamageRegion Damage;
  Grabber->Grab({-cOrigin.X - 50, -50}, Damage);
  EXPECT_EQ(At(Buffer, 60, 60), cLeft.Colour);
  EXPECT_EQ(At(Buffer, 10, 10), 0u);
  EXPECT_EQ(At(Buffer, 60, 10), 0u);
  EXPECT_EQ(At(Buffer, 10, 60), 0u);
}

// True when the rectangles of ADamage together hold every pixel of ARect.
bool Covers(const TDamageRegion& ADamage, const TRect& ARect) {
  for (int Y = ARect.Top; Y < ARect.Bottom; ++Y)
    for (int X = ARect.Left; X < ARect.Right; ++X)
      if (std::none_of(ADamage.Rects.begin(), ADamage.Rects.end(), [&](const TRect& ARect) {
            return X >= ARect.Left && X < ARect.Right && Y >= ARect.Top && Y < ARect.Bottom;
          }))
        return false;
  return true;
}

// How many pixels the rectangles of ADamage hold, overlaps counted twice.
long DamagedPixels(const TDamageRegion& ADamage) {
  long Pixels = 0;
  for (const TRect& Rect : ADamage.Rects)
    Pixels += static_cast<long>(Rect.Right - Rect.Left) * (Rect.Bottom - Rect.Top);
  return Pixels;
}

TEST_P(X11GrabberTest, CopiesAgainOnlyWhenSomethingWasDrawnOrThePointerMoved) {
  const TRect Area = Virtual(cPrimary.Root);
  const auto Grabber = NewX11ScreenGrabber(FServer->Display(), cOrigin, GetParam());
  const TGrabBuffer Buffer = Grabber->Alloc(640, 600);
  const TPoint At{Area.Left, Area.Top};
  TDamageRegion Damage;
  EXPECT_TRUE(Grabber->Grab(At, Damage));
  EXPECT_TRUE(Damage.Everything) << "the first grab";
  EXPECT_FALSE(Grabber->Grab(At, Damage));
  EXPECT_TRUE(Grabber->Grab({At.X + 1, At.Y}, Damage)) << "another area";
  EXPECT_TRUE(Damage.Everything);
  EXPECT_TRUE(Grabber->Grab(At, Damage));
  EXPECT_TRUE(Damage.Everything);
  EXPECT_FALSE(Grabber->Grab(At, Damage));

  Fill({1270, 590, 1280, 600}, Magenta);  // the bottom-right corner of the primary
  EXPECT_TRUE(Grabber->Grab(At, Damage));
  EXPECT_EQ(::halvora::At(Buffer, 639, 599), Magenta);
  EXPECT_FALSE(Damage.Everything);
  EXPECT_EQ(Damage.Rects, (std::vector<TRect>{{630, 590, 640, 600}}));
  EXPECT_FALSE(Grabber->Grab(At, Damage));
  Fill({1500, 10, 1510, 20}, Magenta);  // off every monitor: nothing here to copy
  EXPECT_FALSE(Grabber->Grab(At, Damage));

  // The pointer comes from off the area, then moves within it: where it was and where it is.
  MovePointer(1000, 300);
  EXPECT_TRUE(Grabber->Grab(At, Damage));
  EXPECT_FALSE(Damage.Everything);
  EXPECT_TRUE(Covers(Damage, {360, 300, 361, 301}));
  EXPECT_LT(DamagedPixels(Damage), 64 * 64);
  EXPECT_FALSE(Grabber->Grab(At, Damage));
  MovePointer(1100, 400);
  EXPECT_TRUE(Grabber->Grab(At, Damage));
  EXPECT_FALSE(Damage.Everything);
  EXPECT_TRUE(Covers(Damage, {360, 300, 361, 301}));
  EXPECT_TRUE(Covers(Damage, {460, 400, 461, 401}));
  EXPECT_LT(DamagedPixels(Damage), 2 * 64 * 64);
  EXPECT_FALSE(Grabber->Grab(At, Damage));
}

// Drawing in a window on the primary: the damage holds what was drawn and little else.
TEST_P(X11GrabberTest, ReportsWhatWasDrawnInAWindow) {
  XSetWindowAttributes Attributes{};
  Attributes.override_redirect = True;
  Attributes.background_pixel = 0x404040;
  const Window Child =
      XCreateWindow(FDisplay, FRoot, 700, 100, 300, 200, 0, CopyFromParent, InputOutput,
                    CopyFromParent, CWOverrideRedirect | CWBackPixel, &Attributes);
  XMapWindow(FDisplay, Child);
  XSync(FDisplay, False);
  const auto Grabber = NewX11ScreenGrabber(FServer->Display(), cOrigin, GetParam());
  const TGrabBuffer Buffer = Grabber->Alloc(640, 600);
  TDamageRegion Damage;
  ASSERT_TRUE(Grabber->Grab({0, 0}, Damage));
  EXPECT_FALSE(Grabber->Grab({0, 0}, Damage));

  GC Gc = XCreateGC(FDisplay, Child, 0, nullptr);
  XSetForeground(FDisplay, Gc, Magenta);
  XFillRectangle(FDisplay, Child, Gc, 50, 60, 40, 30);  // (750, 160) on the root
  XFreeGC(FDisplay, Gc);
  XSync(FDisplay, False);
  ASSERT_TRUE(Grabber->Grab({0, 0}, Damage));
  const TRect Drawn{110, 160, 150, 190};
  EXPECT_EQ(Find(Buffer, 640, 600, Magenta), std::make_pair(Drawn, 40 * 30));
  EXPECT_FALSE(Damage.Everything);
  EXPECT_TRUE(Covers(Damage, Drawn));
  EXPECT_LE(DamagedPixels(Damage), 4 * 40 * 30);
  XDestroyWindow(FDisplay, Child);
  XSync(FDisplay, False);
}

INSTANTIATE_TEST_SUITE_P(SharedMemory, X11GrabberTest, testing::Values(true, false),
                         [](const testing::TestParamInfo<bool>& AInfo) {
                           return AInfo.param ? "Shm" : "GetImage";
                         });

// A 16 × 16 pointer with its hot spot at (5, 7): opaque magenta in its upper half,
// half-transparent white (premultiplied) in its lower half.
Cursor MakePointer(Display* ADisplay, Window ARoot) {
  std::vector<std::uint32_t> Argb(16 * 16);
  for (std::size_t I = 0; I < Argb.size(); ++I) Argb[I] = I < 128 ? 0xFFFF00FF : 0x80808080;
  Pixmap Pixels = XCreatePixmap(ADisplay, ARoot, 16, 16, 32);
  XImage* Image = XCreateImage(ADisplay, DefaultVisual(ADisplay, DefaultScreen(ADisplay)), 32,
                               ZPixmap, 0, reinterpret_cast<char*>(Argb.data()), 16, 16, 32, 0);
  GC Gc = XCreateGC(ADisplay, Pixels, 0, nullptr);
  XPutImage(ADisplay, Pixels, Gc, Image, 0, 0, 0, 0, 16, 16);
  Image->data = nullptr;  // the vector's
  XDestroyImage(Image);
  Picture Source = XRenderCreatePicture(
      ADisplay, Pixels, XRenderFindStandardFormat(ADisplay, PictStandardARGB32), 0, nullptr);
  Cursor Pointer = XRenderCreateCursor(ADisplay, Source, 5, 7);
  XRenderFreePicture(ADisplay, Source);
  XFreeGC(ADisplay, Gc);
  XFreePixmap(ADisplay, Pixels);
  return Pointer;
}

TEST_F(X11CaptureTest, PointerIsBlendedInAtItsHotSpot) {
  XSetWindowAttributes Attributes{};
  Attributes.override_redirect = True;
  Attributes.cursor = MakePointer(FDisplay, FRoot);
  Window Cover = XCreateWindow(FDisplay, FRoot, 0, 0, 1600, 600, 0, 0, InputOnly, CopyFromParent,
                               CWOverrideRedirect | CWCursor, &Attributes);
  XMapWindow(FDisplay, Cover);
  // The pointer covers (1278, 193) to (1294, 209) on the root, across two monitors.
  MovePointer(1283, 200);

  struct TCase {
    TRect Root;
    std::pair<TRect, int> Opaque;  // where the magenta half lands in the monitor's buffer
  };
  for (const TCase& Case : {TCase{cRight.Root, {{0, 93, 14, 101}, 14 * 8}},
                            TCase{cPrimary.Root, {{638, 193, 640, 201}, 2 * 8}},
                            TCase{cLeft.Root, {{640, 480, 0, 0}, 0}}}) {
    const TRect Area = Virtual(Case.Root);
    const int Width = Area.Right - Area.Left, Height = Area.Bottom - Area.Top;
    const auto Grabber = NewX11ScreenGrabber(FServer->Display(), cOrigin);
    const TGrabBuffer Buffer = Grabber->Alloc(Width, Height);
    TDamageRegion Damage;
    Grabber->Grab({Area.Left, Area.Top}, Damage);
    EXPECT_EQ(Find(Buffer, Width, Height, Magenta), Case.Opaque);
  }
  // Half-transparent white over the right monitor's colour, and the colour beside it.
  const auto Grabber = NewX11ScreenGrabber(FServer->Display(), cOrigin);
  const TGrabBuffer Buffer = Grabber->Alloc(320, 240);
  TDamageRegion Damage;
  Grabber->Grab({Virtual(cRight.Root).Left, Virtual(cRight.Root).Top}, Damage);
  for (int C = 0; C < 3; ++C)
    EXPECT_NEAR(At(Buffer, 3, 105) >> (8 * C) & 0xFF,
                128 + (cRight.Colour >> (8 * C) & 0xFF) * 127 / 255, 1);
  EXPECT_EQ(At(Buffer, 14, 105), cRight.Colour);
  EXPECT_EQ(At(Buffer, 3, 109), cRight.Colour);
}

TEST_F(X11CaptureTest, CapturerSendsEachMonitorThenWhatChanged) {
  const TMonitorLayout Layout = GetMonitorLayout(*NewX11MonitorSource(FServer->Display()));
  ASSERT_EQ(Layout.Rects.size(), 3u);
  for (std::uint8_t Index = 0; Index < 3; ++Index) {
    const TRect& Area = Layout.Rects[Index];
    const TRect& Root = cInOrder[Index].Root;
    TScreenCapturer Capturer(NewX11ScreenGrabber(FServer->Display(), Layout.Origin));
    TIdBytes Payload;
    ASSERT_TRUE(Capturer.CaptureChanges(Area, Index, Payload));
    const test::TDecodedFrame Frame = test::DecodeFrame(Payload);
    ASSERT_EQ(Frame.Rects(),
              (std::vector<TRect>{{0, 0, Root.Right - Root.Left, Root.Bottom - Root.Top}}));
    EXPECT_EQ(Frame.Monitor, Index);
    const TGrabBuffer Decoded{const_cast<std::uint8_t*>(Frame.Tiles[0].Bgrx.data()),
                              static_cast<std::size_t>(Frame.Width) * 4};
    for (auto [X, Y, Colour] :
         {std::tuple{8, 8, cInOrder[Index].Colour}, std::tuple{40, 50, White},
          std::tuple{Frame.Width - 8, Frame.Height - 8, cInOrder[Index].Colour}})
      for (int C = 0; C < 3; ++C)
        EXPECT_NEAR(At(Decoded, X, Y) >> (8 * C) & 0xFF, Colour >> (8 * C) & 0xFF, 12)
            << "monitor " << int(Index) << " at " << X << "," << Y;

    EXPECT_FALSE(Capturer.CaptureChanges(Area, Index, Payload));
    Fill({Root.Left + 100, Root.Top + 70, Root.Left + 104, Root.Top + 74}, White);
    ASSERT_TRUE(Capturer.CaptureChanges(Area, Index, Payload));
    EXPECT_EQ(test::DecodeFrame(Payload).Rects(), (std::vector<TRect>{{64, 64, 128, 128}}));
  }
}

TEST_F(X11CaptureTest, ScreenSourceCapturersFollowThePrimaryWhenItGoes) {
  const std::unique_ptr<IScreenSource> Source = NewX11ScreenSource(FServer->Display());
  EXPECT_FALSE(Source->SwitchToInputDesktop());
  const std::unique_ptr<IScreenCapturer> Capturer = Source->NewCapturer();
  // The left monitor's pixels, wherever the virtual screen puts it.
  auto ExpectLeftMonitor = [&](const TRect& AArea) {
    TIdBytes Payload;
    ASSERT_TRUE(Capturer->CaptureChanges(AArea, 1, Payload));
    const test::TDecodedFrame Frame = test::DecodeFrame(Payload);
    ASSERT_EQ(Frame.Rects(), (std::vector<TRect>{{0, 0, 640, 480}}));
    const TGrabBuffer Decoded{const_cast<std::uint8_t*>(Frame.Tiles[0].Bgrx.data()), 640 * 4};
    for (auto [X, Y, Colour] : {std::tuple{8, 8, cLeft.Colour}, std::tuple{40, 50, White}})
      for (int C = 0; C < 3; ++C)
        EXPECT_NEAR(At(Decoded, X, Y) >> (8 * C) & 0xFF, Colour >> (8 * C) & 0xFF, 12);
  };
  const std::vector<TRect> Before = Source->GetMonitorRects();
  ASSERT_EQ(Before.size(), 3u);
  ASSERT_EQ(Before[1], (TRect{-640, 0, 0, 480}));
  ExpectLeftMonitor(Before[1]);

  // Without the primary, the monitors at the root's origin come first and virtual (0, 0)
  // moves there.
  ASSERT_TRUE(test::Xrandr(FServer->Display(), {"--delmonitor", "Primary"}));
  struct TRestore {
    ~TRestore() { test::Xrandr(Display, test::PrimaryMonitorArgs); }
    std::string Display;
  } Restore{FServer->Display()};
  const std::vector<TRect> After = Source->GetMonitorRects();
  ASSERT_NE(std::find(After.begin(), After.end(), TRect{0, 0, 640, 480}), After.end());
  ExpectLeftMonitor({0, 0, 640, 480});
}

TEST_F(X11CaptureTest, FailedRequestIsRecordedNotFatal) {
  TX11Connection Connection(FServer->Display());
  XMapWindow(Connection.Handle(), 0x3FFFFF);  // no such window
  EXPECT_FALSE(Connection.Sync());
  EXPECT_TRUE(Connection.Sync());
}

TEST_F(X11CaptureTest, RefusesScreensWithoutBgrxPixels) {
  for (const char* Screen : {"640x480x16", "640x480x8"}) {
    TXvfb Other(Screen);
    try {
      NewX11ScreenGrabber(Other.Display(), {0, 0});
      ADD_FAILURE() << Screen << " accepted";
    } catch (const EScreenCapture& AError) {
      EXPECT_STREQ(
          AError.what(),
          "Formato de tela não suportado: a captura exige cores TrueColor de 24 ou 32 bits");
    }
  }
}

}  // namespace
}  // namespace halvora

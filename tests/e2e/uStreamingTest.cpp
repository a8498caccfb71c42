// Screen streaming from the host on an X screen with three monitors to the viewer, through the
// relay: every monitor's picture at the viewer must show what the X screen shows, first in
// full and then after changes.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

#include <cmath>
#include <filesystem>
#include <regex>
#include <thread>

#include "e2e/uEndToEndFixture.h"

namespace halvora::test {
namespace {

struct TArea {
  int Left, Top, Width, Height;
};

// On a 1600 × 600 root: the primary in the middle, one monitor to its left and a smaller one
// to its right, in the order the host numbers them.
const TArea cMonitors[] = {{640, 0, 640, 600}, {0, 0, 640, 480}, {1280, 100, 320, 240}};

// Root pixels as 0xRRGGBB, row by row.
using TPixels = std::vector<unsigned long>;

TPixels ReadPng(const std::string& AFile, int& AWidth, int& AHeight) {
  png_image Image{};
  Image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&Image, AFile.c_str())) return {};
  Image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> Rgb(PNG_IMAGE_SIZE(Image));
  if (!png_image_finish_read(&Image, nullptr, Rgb.data(), 0, nullptr)) return {};
  AWidth = static_cast<int>(Image.width);
  AHeight = static_cast<int>(Image.height);
  TPixels Pixels(Rgb.size() / 3);
  for (std::size_t I = 0; I < Pixels.size(); ++I)
    Pixels[I] = static_cast<unsigned long>(Rgb[I * 3]) << 16 | Rgb[I * 3 + 1] << 8 | Rgb[I * 3 + 2];
  return Pixels;
}

// Peak signal-to-noise ratio of two pictures over their colour channels, in dB.
double Psnr(const TPixels& AA, const TPixels& AB) {
  double Sum = 0;
  for (std::size_t I = 0; I < AA.size(); ++I)
    for (int C = 0; C < 3; ++C) {
      const double D = static_cast<double>(AA[I] >> (8 * C) & 0xFF) -
                       static_cast<double>(AB[I] >> (8 * C) & 0xFF);
      Sum += D * D;
    }
  const double Mse = Sum / (AA.size() * 3.0);
  return Mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / Mse);
}

class Streaming : public TEndToEndTest {
 protected:
  void SetUp() override {
    X = NewThreeMonitorXvfb();
    if (!X) GTEST_SKIP() << "xrandr is missing";
    FDisplay = XOpenDisplay(X->Display().c_str());
    ASSERT_NE(FDisplay, nullptr);
    FRoot = DefaultRootWindow(FDisplay);
    // The pointer on the root but off every monitor, so that no picture holds it.
    XWarpPointer(FDisplay, None, FRoot, 0, 0, 0, 0, 1590, 590);
  }
  void TearDown() override {
    if (FDisplay) XCloseDisplay(FDisplay);
  }

  struct TProbe {
    int Monitor, X, Y;  // the middle of a flat box on the monitor
    unsigned long Colour;
  };

  void Fill(int AX, int AY, int AWidth, int AHeight, unsigned long AColour) {
    GC Gc = DefaultGC(FDisplay, DefaultScreen(FDisplay));
    XSetForeground(FDisplay, Gc, AColour);
    XFillRectangle(FDisplay, FRoot, Gc, AX, AY, AWidth, AHeight);
  }
  // A monitor's own background with a band of 8 × 8 squares, like text, and a mark low
  // enough to stay clear of the host's window (top left of the root).
  void Paint(int AIndex, unsigned long ABackground, unsigned long AInk, int AMarkX) {
    const TArea& M = cMonitors[AIndex];
    Fill(M.Left, M.Top, M.Width, M.Height, ABackground);
    for (int Y = 16; Y < 80; Y += 8)
      for (int X = 16; X < M.Width - 16; X += 8)
        if ((X / 8 * 7 + Y / 8 * 3) % 5 < 2) Fill(M.Left + X, M.Top + Y, 8, 8, AInk);
    Fill(M.Left + AMarkX, M.Top + M.Height - 60, 40, 30, 0xFFFF00);
    XSync(FDisplay, False);
    std::erase_if(FProbes, [&](const TProbe& P) { return P.Monitor == AIndex; });
    FProbes.push_back({AIndex, AMarkX + 20, M.Height - 45, 0xFFFF00});
  }
  void Box(int AIndex, int AX, int AY, unsigned long AColour) {
    const TArea& M = cMonitors[AIndex];
    Fill(M.Left + AX, M.Top + AY, 50, 50, AColour);
    XSync(FDisplay, False);
    FProbes.push_back({AIndex, AX + 25, AY + 25, AColour});
  }
  TPixels Screen(const TArea& AArea) {
    XImage* Image = XGetImage(FDisplay, FRoot, AArea.Left, AArea.Top, AArea.Width, AArea.Height,
                              AllPlanes, ZPixmap);
    TPixels Pixels;
    for (int Y = 0; Y < AArea.Height; ++Y)
      for (int X = 0; X < AArea.Width; ++X) Pixels.push_back(XGetPixel(Image, X, Y) & 0xFFFFFF);
    XDestroyImage(Image);
    return Pixels;
  }
  void ExpectPicturesMatchTheScreen(const TViewerProcess& AViewer) {
    for (int I = 0; I < 3; ++I) {
      SCOPED_TRACE("monitor " + std::to_string(I));
      int Width = 0, Height = 0;
      const TPixels Picture =
          ReadPng(AViewer.Folder() + "/monitor-" + std::to_string(I) + ".png", Width, Height);
      ASSERT_EQ(Width, cMonitors[I].Width);
      ASSERT_EQ(Height, cMonitors[I].Height);
      // JPEG blurs sharp edges between colours (colour is kept at half resolution), so the
      // squares on blue score about 27 dB; a picture of other or older content is far below.
      EXPECT_GE(Psnr(Picture, Screen(cMonitors[I])), 25.0);
      for (const TProbe& P : FProbes) {
        if (P.Monitor != I) continue;
        for (int C = 0; C < 3; ++C)
          EXPECT_NEAR(Picture[P.Y * Width + P.X] >> (8 * C) & 0xFF, P.Colour >> (8 * C) & 0xFF, 24)
              << "at " << P.X << "," << P.Y;
      }
    }
  }
  static int Frames(const TViewerProcess& AViewer) {
    const std::string Log = AViewer.Log();
    const std::regex Frame(R"((^|\n)\d+ 103 )");
    return static_cast<int>(std::distance(
        std::sregex_iterator(Log.begin(), Log.end(), Frame), std::sregex_iterator()));
  }

  std::unique_ptr<TXvfb> X;
  Display* FDisplay = nullptr;
  Window FRoot = 0;
  std::vector<TProbe> FProbes;
};

TEST_F(Streaming, EveryMonitorArrivesAsTheScreenShowsItAndKeepsUp) {
  Paint(0, 0xC03020, 0x101010, 100);
  Paint(1, 0x2060A0, 0xF0F0F0, 200);
  Paint(2, 0x30A050, 0x000000, 20);
  auto Relay = StartRelay();
  auto Host = StartHost(*Relay, X->Display());
  ASSERT_TRUE(Host->WaitState(IsReady));

  auto First = Technician(*Relay, *Host, "wait-frames 3 15000\nend\n");
  ASSERT_EQ(First->Wait(), 0) << First->Output();
  EXPECT_NE(First->Log().find(" 107 2 monitores=3 selecionado=0"), std::string::npos);
  ExpectPicturesMatchTheScreen(*First);

  // Changes while a session runs reach the pictures of their monitors.
  auto Second = Technician(*Relay, *Host, "wait-frames 3 15000\nwait 3000\nend\n");
  for (int I = 0; I < 300 && Frames(*Second) < 3; ++I) std::this_thread::sleep_for(50ms);
  ASSERT_GE(Frames(*Second), 3) << Second->Output();
  Paint(0, 0x606060, 0xFFFFFF, 300);
  Paint(1, 0x2060A0, 0xF0F0F0, 400);
  Box(2, 200, 150, 0x8000FF);
  ASSERT_EQ(Second->Wait(), 0) << Second->Output();
  ExpectPicturesMatchTheScreen(*Second);
  EXPECT_GT(Frames(*Second), 3);
}

}  // namespace
}  // namespace halvora::test

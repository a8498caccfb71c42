// The brand in the main window: the controller with the real brand service against the
// reference relay's brand service, rendered by the Qt window.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QPixmap>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "brand/uBrandService.h"
#include "protocol/uProtocol.h"
#include "support/uHostHarness.h"
#include "uBrandTestKit.h"
#include "uTestApp.h"
#include "uWindowFixture.h"
#include "ui/qt/uMainWindow.h"

namespace halvora {
namespace {

using test::Near;

constexpr QRgb Header = qRgb(0x2C, 0x73, 0x89);
constexpr std::uint32_t SmallLogoColor = 0xE0701E;
constexpr std::uint32_t WideLogoColor = 0xF2C14E;
const std::string cName22 = "Suporte Técnico Brasil";   // 22 UTF-16 units
const std::string cName23 = "Suporte Técnico Brasil!";  // 23

// The host on the scripted relay with its brand code in the settings; brand lookups go to
// the reference relay's brand service. The harness goes first, as the controller still talks
// to the view while it ends.
class TBrandWindow : private test::TTestApp {
 public:
  TBrandWindow(const std::string& AApiUrl, const std::string& ABrandCode) {
    H.WriteSettings("[Server]\nApiUrl=" + AApiUrl + "\n[Client]\nBrand=" + ABrandCode + "\n");
    TMainEnvironment Env = H.Environment();
    auto Service = std::make_shared<TBrandService>(THttpOptions{}, H.Loop.Queue());
    Brand = Service;  // owned by the controller alone, as in the program
    Env.Services.Brand = std::move(Service);
    Env.View = &View;
    Env.Dialogs = &View;
    H.Start(std::move(Env));
    View.Attach(*H.Host);
  }

  QLabel* Label(const char* AName) { return View.findChild<QLabel*>(AName); }
  std::string Title() { return Label("lblTitle")->text().toStdString(); }
  // Runs the main loop until the brand lookups have reported and ended.
  bool Settle() {
    return H.RunUntil([&] { return Brand.lock()->Running() == 0; });
  }

  TMainWindow View;
  test::THostHarness H;
  std::weak_ptr<TBrandService> Brand;
};

// The bounding box of the pixels of AImage inside AArea that match AColor.
QRect Extent(const QImage& AImage, const QRect& AArea, QRgb AColor) {
  QRect Box;
  for (int Y = AArea.top(); Y <= AArea.bottom(); ++Y)
    for (int X = AArea.left(); X <= AArea.right(); ++X)
      if (Near(AImage.pixel(X, Y), AColor)) Box |= QRect(X, Y, 1, 1);
  return Box;
}

// Threads of this process.
std::size_t LiveThreads() {
  std::size_t Count = 0;
  for ([[maybe_unused]] const auto& Entry : std::filesystem::directory_iterator("/proc/self/task"))
    ++Count;
  return Count;
}

QRect InWindow(QWidget& AWindow, QWidget* AWidget) {
  return QRect(AWidget->mapTo(&AWindow, QPoint(0, 0)), AWidget->size());
}

struct TBrandCase {
  const char* Artifact;
  std::string Name;
  int TitleHeight;
  std::uint32_t Width, Height, Color;
  QRect Logo;  // where the logo lands in the window: centred in the 56 × 56 box at (16, 10)
};

TEST(TBrandWindow, ShowsTheNameTheSubtitleAndTheLogoCentredAndOnlyScaledDown) {
  test::TBrandRelay Relay;
  const TBrandCase Cases[] = {
      {"brand-22-40x40", cName22, 24, 40, 40, SmallLogoColor, QRect(24, 18, 40, 40)},
      {"brand-23-200x100", cName23, 16, 200, 100, WideLogoColor, QRect(16, 24, 56, 28)},
  };
  int InkHeights[2] = {};
  for (int I = 0; I < 2; ++I) {
    const TBrandCase& Case = Cases[I];
    SCOPED_TRACE(Case.Artifact);
    const std::string Code = std::string("marca") + std::to_string(I);
    Relay.AddBrand(Code, Case.Name, test::MakePng(Case.Width, Case.Height, Case.Color));
    TBrandWindow W(Relay.Url(), Code);
    ASSERT_TRUE(W.Settle());
    ASSERT_EQ(W.Title(), Case.Name);

    const QImage Image = test::Screenshot(W.View);
    ASSERT_TRUE(QDir().mkpath(HALVORA_UI_ARTIFACTS));
    Image.save(
        QString(HALVORA_UI_ARTIFACTS "/%1%2.png").arg(Case.Artifact, test::PlatformSuffix()));

    QLabel* Title = W.Label("lblTitle");
    EXPECT_EQ(Title->font().pixelSize(), Case.TitleHeight);
    EXPECT_EQ(W.Label("lblSubtitle")->text().toStdString(), "Suporte remoto por Halvora");
    const QRect TitleBox = InWindow(W.View, Title);
    InkHeights[I] =
        Extent(Image, TitleBox, Title->palette().color(QPalette::WindowText).rgb()).height();
    EXPECT_LE(TitleBox.right(), 440) << "the title runs out of the window";

    const QPixmap Shown = W.Label("imgLogo")->pixmap();
    EXPECT_EQ(Shown.size(), Case.Logo.size());
    const QRect Box(16, 10, 56, 56);
    EXPECT_EQ(InWindow(W.View, W.Label("imgLogo")), Box);
    const QRgb Color = static_cast<QRgb>(Case.Color) | 0xFF000000u;
    EXPECT_EQ(Extent(Image, Box.adjusted(-6, -6, 6, 6), Color), Case.Logo);
    // The rest of the logo box shows the header.
    for (const QPoint Corner : {Box.topLeft(), Box.bottomRight()})
      if (!Case.Logo.contains(Corner)) {
        EXPECT_TRUE(Near(Image.pixel(Corner), Header));
      }
  }
  // The same letters drawn at 24 and at 16 pixels.
  EXPECT_GT(InkHeights[0] * 10, InkHeights[1] * 13) << InkHeights[0] << " " << InkHeights[1];
}

TEST(TBrandWindow, TheHostsOwnBrandComesBackAfterASessionBrand) {
  test::TBrandRelay Relay;
  Relay.AddBrand("propria", cName22, test::MakePng(40, 40, SmallLogoColor));
  Relay.AddBrand("sessao", cName23, test::MakePng(200, 100, WideLogoColor));
  TBrandWindow W(Relay.Url(), "propria");
  ASSERT_TRUE(W.Settle());
  ASSERT_EQ(W.Title(), cName22);

  test::StartSession(W.H);
  ASSERT_TRUE(W.H.Deliver(cmdBrand, "sessao|Nome Anunciado"));
  EXPECT_EQ(W.Title(), "Nome Anunciado");  // at once, before the lookup
  ASSERT_TRUE(W.Settle());
  EXPECT_EQ(W.Title(), cName23);
  EXPECT_EQ(W.Label("lblTitle")->font().pixelSize(), 16);
  EXPECT_EQ(W.Label("imgLogo")->pixmap().size(), QSize(56, 28));

  W.View.findChild<QPushButton*>("btnDisconnect")->click();
  // From the cache at once, and again once the host's own lookup has reported.
  for (int Pass = 0; Pass < 2; ++Pass) {
    SCOPED_TRACE(Pass);
    EXPECT_EQ(W.Title(), cName22);
    EXPECT_EQ(W.Label("lblTitle")->font().pixelSize(), 24);
    EXPECT_EQ(W.Label("lblSubtitle")->text().toStdString(), "Suporte remoto por Halvora");
    EXPECT_EQ(W.Label("imgLogo")->pixmap().size(), QSize(40, 40));
    ASSERT_TRUE(W.Settle());
  }
}

// A technician's side that announces brand after brand to a brand service that never answers:
// each announcement cancels the lookup before it, hung in the network, so no more than one
// session lookup (and its thread) is alive at a time, and the last announced brand is the one
// that shows once its lookup answers.
TEST(TBrandWindow, EachAnnouncementCancelsTheSessionLookupBeforeIt) {
  using namespace std::chrono_literals;
  test::TLoopbackHttp Service([](const std::string& ATarget) {
    if (ATarget == "/v1/marca/propria") return test::Answer(200, R"({"nome":"Própria"})");
    if (ATarget == "/v1/marca/ultima") return test::Answer(200, R"({"nome":"Última Revenda"})");
    return test::Stall();
  });
  TBrandWindow W(Service.Url(), "propria");
  ASSERT_TRUE(W.Settle());
  ASSERT_EQ(W.Title(), "Própria");
  test::StartSession(W.H);

  const std::size_t ThreadsBefore = LiveThreads();
  const auto Started = std::chrono::steady_clock::now();
  for (int I = 0; I < 300; ++I) {
    const std::string Code = "sessao" + std::to_string(I);
    ASSERT_TRUE(W.H.Deliver(cmdBrand, Code + "|Nome " + std::to_string(I)));
    ASSERT_EQ(W.Brand.lock()->Running(), 1u) << I;
    // Hung in the network before the next announcement comes.
    ASSERT_TRUE(test::WaitUntil([&] {
      const auto Targets = Service.Targets();
      return !Targets.empty() && Targets.back() == "/v1/marca/" + Code;
    })) << I;
  }
  EXPECT_LE(LiveThreads(), ThreadsBefore + 1);
  // A cancellation that waited for the hung request would take the response time-out each.
  EXPECT_LT(std::chrono::steady_clock::now() - Started, 60s);

  ASSERT_TRUE(W.H.Deliver(cmdBrand, "ultima|Anunciada"));
  EXPECT_EQ(W.Title(), "Anunciada");
  ASSERT_TRUE(W.Settle());
  EXPECT_EQ(W.Title(), "Última Revenda");
  EXPECT_LE(LiveThreads(), ThreadsBefore);
}

}  // namespace
}  // namespace halvora

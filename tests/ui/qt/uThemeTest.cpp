#include "ui/qt/uTheme.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QTest>
#include <QWindow>

#include <functional>
#include <ostream>
#include <string>
#include <vector>
#include "uTestApp.h"

namespace halvora {
namespace {

const QRect cButtonGeometry(25, 16, 110, 28);
const QPoint cFillPoint(10, 14);  // inside the ring, left of the caption
const QPoint cOutlinePoint(55, 0);
const QPoint cRingPoint(55, 3);
const QRect cCaptionArea(8, 6, 94, 16);

// A shown, active window in the program's background colour holding a button and a focusable
// neighbour that starts with the focus; the pointer starts inside the window, off the button.
class TThemedWindow : private test::TTestApp {
 public:
  TThemedWindow() {
    QPalette Palette = FWindow.palette();
    Palette.setColor(QPalette::Window, QColor(WindowBackground));
    FWindow.setPalette(Palette);
    FWindow.setAutoFillBackground(true);
    FWindow.resize(160, 60);
    FButton = new TButton("Revogar", &FWindow);
    FButton->setGeometry(cButtonGeometry);
    auto* Neighbour = new QWidget(&FWindow);
    Neighbour->setGeometry(140, 2, 10, 10);
    Neighbour->setFocusPolicy(Qt::StrongFocus);
    FWindow.show();
    QApplication::processEvents();
    Neighbour->setFocus();
    MoveTo(QPoint(2, 2));
  }

  ~TThemedWindow() {
    if (QGuiApplication::mouseButtons() != Qt::NoButton)
      QTest::mouseRelease(FWindow.windowHandle(), Qt::LeftButton, {}, QPoint(2, 2));
  }

  TButton& Button() { return *FButton; }
  QWindow* Handle() { return FWindow.windowHandle(); }
  QPoint ButtonCentre() const { return cButtonGeometry.center(); }

  void MoveTo(QPoint AInWindow) { QTest::mouseMove(Handle(), AInWindow); }
  void Hover() { MoveTo(ButtonCentre()); }
  void Press() {
    Hover();
    QTest::mousePress(Handle(), Qt::LeftButton, {}, ButtonCentre());
  }
  void Focus() {
    FButton->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
  }

  QImage Grab() { return FButton->grab().toImage(); }

 private:
  QWidget FWindow;
  TButton* FButton = nullptr;
};

// Colours as #rrggbb, so that failures read well and alpha never counts.
std::string Hex(QRgb AColor) {
  return QColor(AColor).name().toStdString();
}

std::string At(const QImage& AImage, QPoint APoint) {
  return Hex(AImage.pixel(APoint));
}

int CountInCaption(const QImage& AImage, QRgb AColor) {
  int Count = 0;
  for (int Y = cCaptionArea.top(); Y <= cCaptionArea.bottom(); ++Y)
    for (int X = cCaptionArea.left(); X <= cCaptionArea.right(); ++X)
      Count += At(AImage, QPoint(X, Y)) == Hex(AColor);
  return Count;
}

struct TStateCase {
  const char* FName;
  std::function<void(TThemedWindow&)> FDrive;
  TButtonState FState;
  bool FRing;
};

void PrintTo(const TStateCase& ACase, std::ostream* AOut) {
  *AOut << ACase.FName;
}

class TButtonLook : public ::testing::TestWithParam<TStateCase> {};

TEST_P(TButtonLook, PaintsTheStateColours) {
  const TStateCase& Case = GetParam();
  TThemedWindow Window;
  Case.FDrive(Window);
  ASSERT_EQ(Window.Button().State(), Case.FState);

  const QImage Image = Window.Grab();
  ASSERT_TRUE(QDir().mkpath(HALVORA_UI_ARTIFACTS));
  Image.save(QString(HALVORA_UI_ARTIFACTS "/button-%1.png").arg(Case.FName));

  const TButtonColors& Colors = ButtonColors(Case.FState);
  EXPECT_EQ(At(Image, cFillPoint), Hex(Colors.FFill));
  EXPECT_EQ(At(Image, cOutlinePoint), Hex(Colors.FOutline));
  EXPECT_EQ(At(Image, cRingPoint), Hex(Case.FRing ? FocusRing : Colors.FFill));
  EXPECT_EQ(At(Image, QPoint(0, 0)), Hex(WindowBackground));

  EXPECT_GT(CountInCaption(Image, Colors.FCaption), 0);
  for (const TButtonColors& Other : ButtonColorTable) {
    if (Other.FCaption != Colors.FCaption) {
      EXPECT_EQ(CountInCaption(Image, Other.FCaption), 0);
    }
  }
}

const std::vector<TStateCase> cStateCases = {
    {"normal", [](TThemedWindow&) {}, TButtonState::bsNormal, false},
    {"hover", [](TThemedWindow& W) { W.Hover(); }, TButtonState::bsHover, false},
    {"pressed", [](TThemedWindow& W) { W.Press(); }, TButtonState::bsPressed, true},
    {"dragged_off",
     [](TThemedWindow& W) {
       W.Press();
       W.MoveTo(QPoint(2, 2));
     },
     TButtonState::bsNormal, true},
    {"disabled", [](TThemedWindow& W) { W.Button().setEnabled(false); }, TButtonState::bsDisabled,
     false},
    {"focused", [](TThemedWindow& W) { W.Focus(); }, TButtonState::bsNormal, true},
    {"hover_focused",
     [](TThemedWindow& W) {
       W.Focus();
       W.Hover();
     },
     TButtonState::bsHover, true},
    {"disabled_focused",
     [](TThemedWindow& W) {
       W.Focus();
       W.Button().setEnabled(false);
     },
     TButtonState::bsDisabled, false},
};

INSTANTIATE_TEST_SUITE_P(States, TButtonLook, ::testing::ValuesIn(cStateCases),
                         [](const auto& AInfo) { return std::string(AInfo.param.FName); });

TEST(TButton, DoubleClickClicksTwice) {
  TThemedWindow Window;
  int Clicks = 0;
  QObject::connect(&Window.Button(), &QPushButton::clicked, [&Clicks] { ++Clicks; });
  QTest::mouseDClick(Window.Handle(), Qt::LeftButton, {}, Window.ButtonCentre());
  EXPECT_EQ(Clicks, 2);
}

TEST(TButton, DefaultButtonLooksTheSame) {
  TThemedWindow Window;
  const QImage Before = Window.Grab();
  Window.Button().setDefault(true);
  EXPECT_EQ(Window.Grab(), Before);
}

}  // namespace
}  // namespace halvora

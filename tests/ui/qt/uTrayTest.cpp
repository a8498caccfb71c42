// The tray icon on a real X server: shown by a notification area (trayer) when one exists,
// and the window's fallback when none does.
#include <gtest/gtest.h>

#include <QApplication>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

#include <chrono>
#include <memory>

#include "support/linux/uXvfb.h"
#include "uWindowFixture.h"

namespace halvora {
namespace {

using namespace std::chrono_literals;
using test::TWindowFixture;

// Runs Qt's loop until ACondition holds, for at most ATimeout.
template <typename F>
bool WaitUntil(F ACondition, std::chrono::milliseconds ATimeout = 10s) {
  return QTest::qWaitFor(ACondition, static_cast<int>(ATimeout.count()));
}

// True when the square at ABox shows the icon's teal somewhere.
bool ShowsIcon(QRect ABox) {
  const QImage Shot =
      QGuiApplication::primaryScreen()->grabWindow(0, ABox.x(), ABox.y(), ABox.width(),
                                                   ABox.height()).toImage();
  for (int Y = 0; Y < Shot.height(); ++Y)
    for (int X = 0; X < Shot.width(); ++X) {
      const QRgb P = Shot.pixel(X, Y);
      if (std::abs(qRed(P) - 0x40) < 24 && std::abs(qGreen(P) - 0x94) < 24 &&
          std::abs(qBlue(P) - 0xAC) < 24)
        return true;
    }
  return false;
}

TEST(Tray, AgentLivesInTheNotificationArea) {
  if (!test::ProgramOnPath("trayer")) GTEST_SKIP() << "trayer is not installed";
  TWindowFixture F(true);
  test::TChildProcess Trayer("/usr/bin/trayer", {"--edge", "top", "--align", "right"},
                             {"DISPLAY=" + qEnvironmentVariable("DISPLAY").toStdString()});
  ASSERT_TRUE(WaitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
  F.View.ModelChanged();

  auto* Tray = F.View.findChild<QSystemTrayIcon*>();
  ASSERT_NE(Tray, nullptr);
  EXPECT_TRUE(Tray->isVisible());
  EXPECT_EQ(Tray->toolTip().toStdString(), F.H.Host->Model().Tray.Hint);
  ASSERT_TRUE(WaitUntil([Tray] { return !Tray->geometry().isEmpty(); }));
  EXPECT_TRUE(WaitUntil([Tray] { return ShowsIcon(Tray->geometry()); }))
      << "icon not drawn at " << Tray->geometry().x() << "," << Tray->geometry().y();

  // Closing hides the window; the icon brings it back.
  F.View.show();
  EXPECT_FALSE(F.View.close());
  EXPECT_TRUE(F.View.isHidden());
  emit Tray->activated(QSystemTrayIcon::Trigger);
  EXPECT_TRUE(F.View.isVisible());
}

TEST(Tray, WithoutNotificationAreaTheWindowStaysReachable) {
  TWindowFixture F(true);
  // A notification area that went away (as after the test above) is noticed too.
  ASSERT_TRUE(WaitUntil([] { return !QSystemTrayIcon::isSystemTrayAvailable(); }));
  F.View.ModelChanged();
  auto* Tray = F.View.findChild<QSystemTrayIcon*>();
  ASSERT_NE(Tray, nullptr);
  EXPECT_FALSE(Tray->isVisible());
  F.View.ShowBalloon("Halvora", "texto");  // nowhere to show it: nothing happens

  // Hiding would leave no way back, so closing minimises.
  F.View.show();
  EXPECT_FALSE(F.View.close());
  EXPECT_FALSE(F.View.isHidden());
  EXPECT_TRUE(F.View.isMinimized());
}

}  // namespace
}  // namespace halvora

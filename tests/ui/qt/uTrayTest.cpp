// The tray icon on a real X server: shown by a notification area (trayer) when one exists,
// and the window's fallback when none does.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTextDocument>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "support/linux/uXvfb.h"
#include "support/uTestFiles.h"
#include "uWindowFixture.h"
#include "ui/qt/uLiteralText.h"

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
  const QImage Shot = QGuiApplication::primaryScreen()
                          ->grabWindow(0, ABox.x(), ABox.y(), ABox.width(), ABox.height())
                          .toImage();
  for (int Y = 0; Y < Shot.height(); ++Y)
    for (int X = 0; X < Shot.width(); ++X) {
      const QRgb P = Shot.pixel(X, Y);
      if (std::abs(qRed(P) - 0x40) < 24 && std::abs(qGreen(P) - 0x94) < 24 &&
          std::abs(qBlue(P) - 0xAC) < 24)
        return true;
    }
  return false;
}

// The tooltip that Qt pops up over its own tray widget, and what its label shows: a label
// that guesses its format reads rich text as rich text.
QLabel* PopUpToolTip() {
  QWidget* Icon = nullptr;
  for (QWidget* Widget : QApplication::topLevelWidgets())
    if (Widget->objectName() == "QSystemTrayIconSys") Icon = Widget;
  if (!Icon) return nullptr;
  const QPoint Inside = Icon->rect().center();
  QHelpEvent Help(QEvent::ToolTip, Inside, Icon->mapToGlobal(Inside));
  QApplication::sendEvent(Icon, &Help);
  QLabel* Tip = nullptr;
  (void)WaitUntil([&Tip] {
    for (QWidget* Widget : QApplication::topLevelWidgets())
      if (Widget->objectName() == "qtooltip_label" && Widget->isVisible())
        Tip = qobject_cast<QLabel*>(Widget);
    return Tip != nullptr;
  });
  return Tip;
}

std::string Shown(const QLabel& ALabel) {
  const bool Rich = ALabel.textFormat() == Qt::RichText ||
                    (ALabel.textFormat() == Qt::AutoText && Qt::mightBeRichText(ALabel.text()));
  if (!Rich) return ALabel.text().toStdString();
  QTextDocument Document;
  Document.setHtml(ALabel.text());
  return Document.toPlainText().toStdString();
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
  QLabel* Tip = PopUpToolTip();
  ASSERT_NE(Tip, nullptr);
  EXPECT_EQ(Shown(*Tip), F.H.Host->Model().Tray.Hint);
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

// A technician's name with markup that would draw a local picture (solid red): the tooltip
// and the balloon show it as it is, and the picture is never drawn.
TEST(Tray, TheTechniciansNameShowsAsItIsInTheTooltipAndTheBalloon) {
  if (!test::ProgramOnPath("trayer")) GTEST_SKIP() << "trayer is not installed";
  const test::TTempFolder Temp;
  const std::string Picture = Temp.Path("r.png");
  test::SaveRedPicture(Picture);
  const std::string Name = "<b>Técnico</b><img src=\"file://" + Picture + "\"> [*]";
  const auto NoPicture = [](QWidget& AWidget) {
    const QImage Shot = AWidget.grab().toImage();
    return !Shot.isNull() && !test::Shows(Shot, qRgb(255, 0, 0), 0);
  };

  TWindowFixture F(true);
  test::TChildProcess Trayer("/usr/bin/trayer", {"--edge", "top", "--align", "right"},
                             {"DISPLAY=" + qEnvironmentVariable("DISPLAY").toStdString()});
  ASSERT_TRUE(WaitUntil([] { return QSystemTrayIcon::isSystemTrayAvailable(); }));
  ASSERT_TRUE(F.H.Deliver(cmdTrustedAccess, "111222333|" + Name + "|"));
  const std::string Hint = F.H.Host->Model().Tray.Hint;
  ASSERT_NE(Hint.find(Name), std::string::npos) << Hint;
  EXPECT_EQ(CurrentTrayRoute(), TTrayRoute::trQtWidget);

  QWidget* Balloon = nullptr;
  for (QWidget* Widget : QApplication::topLevelWidgets())
    if (Widget->inherits("QBalloonTip")) Balloon = Widget;
  ASSERT_NE(Balloon, nullptr);
  std::vector<std::string> Texts;
  for (const QLabel* Label : Balloon->findChildren<QLabel*>())
    if (!Label->text().isEmpty()) Texts.push_back(Shown(*Label));
  EXPECT_EQ(Texts,
            (std::vector<std::string>{"Halvora", Name + " está acessando este computador."}));
  EXPECT_TRUE(NoPicture(*Balloon));

  QLabel* Tip = PopUpToolTip();
  ASSERT_NE(Tip, nullptr);
  EXPECT_EQ(Shown(*Tip), Hint);
  EXPECT_TRUE(NoPicture(*Tip));
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

// The tray icon on a desktop with a StatusNotifier host, on a private D-Bus session bus: Qt
// hands the icon and the balloon to the desktop, which reads some of their texts as markup.
#include <gtest/gtest.h>

#include <QSystemTrayIcon>
#include <QTest>
#include <QTextDocument>

#include "support/linux/uXvfb.h"
#include "uFakeDesktopBus.h"
#include "uWindowFixture.h"
#include "ui/qt/uLiteralText.h"

namespace halvora {
namespace {

using test::TFakeDesktopBus;
using test::TWindowFixture;

// What a markup reader makes of AMarkup.
QString ReadAsMarkup(const QString& AMarkup) {
  QTextDocument Document;
  Document.setHtml(AMarkup);
  return Document.toPlainText();
}

// The technician's name reaches the markup fields (the balloon's message, shown as the
// notification's body and the item's tooltip text) as entities, and the plain ones as it is.
TEST(TrayOnStatusNotifier, TheTechniciansNameReachesMarkupFieldsAsEntities) {
  if (!test::ProgramOnPath("dbus-daemon")) GTEST_SKIP() << "dbus-daemon is not installed";
  TFakeDesktopBus& Desktop = TFakeDesktopBus::Instance();  // the application's session bus
  TWindowFixture F(true);
  ASSERT_TRUE(QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 10000));
  F.View.ModelChanged();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Desktop.Items().empty(); }, 10000));
  EXPECT_EQ(CurrentTrayRoute(), TTrayRoute::trStatusNotifier);
  const QString Item = Desktop.Items().back();
  EXPECT_EQ(Desktop.ToolTip(Item).Title.toStdString(), F.H.Host->Model().Tray.Hint);

  const std::string Name = "<b>Técnico verificado</b><img src=\"/etc/x.png\" alt=\"\"/> & [*]";
  ASSERT_TRUE(F.H.Deliver(cmdTrustedAccess, "111222333|" + Name + "\n\n\n|"));
  const QString Message = QString::fromStdString(Name + " está acessando este computador.");
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Desktop.Notifications().empty(); }, 10000));
  const TFakeDesktopBus::TNotification Shown = Desktop.Notifications().back();
  EXPECT_EQ(Shown.Summary.toStdString(), "Halvora");
  EXPECT_EQ(Shown.Body.toStdString(), Message.toHtmlEscaped().toStdString());
  EXPECT_EQ(ReadAsMarkup(Shown.Body).toStdString(), Message.toStdString());
  const TFakeDesktopBus::TToolTip Tip = Desktop.ToolTip(Item);  // while the balloon lasts
  EXPECT_EQ(Tip.Title.toStdString(), "Halvora");
  EXPECT_EQ(Tip.Text.toStdString(), Shown.Body.toStdString());
  // Once the balloon is over, the item's tooltip title is the hint, which is plain text.
  EXPECT_EQ(F.View.findChild<QSystemTrayIcon*>()->toolTip().toStdString(),
            F.H.Host->Model().Tray.Hint);
  EXPECT_NE(F.H.Host->Model().Tray.Hint.find(Name), std::string::npos);
}

}  // namespace
}  // namespace halvora

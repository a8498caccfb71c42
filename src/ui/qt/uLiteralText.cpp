#include "ui/qt/uLiteralText.h"

#include <QApplication>
#include <QWidget>

namespace halvora {

QString LiteralCaption(const QString& AText) {
  QString Result = AText;
  return Result.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
}

QString LiteralRichText(const QString& AText) {
  // The leading tag makes every guess read rich text; pre-wrap keeps blanks and line breaks
  // and still wraps long lines.
  return QStringLiteral("<p style=\"white-space:pre-wrap\">") + AText.toHtmlEscaped() +
         QStringLiteral("</p>");
}

QString LiteralMarkup(const QString& AText) {
  return AText.toHtmlEscaped();
}

TTrayRoute CurrentTrayRoute() {
  // Qt draws a visible icon itself through a top-level widget of this name; otherwise the
  // platform's tray has it.
  for (const QWidget* Widget : QApplication::topLevelWidgets())
    if (Widget->objectName() == QLatin1String("QSystemTrayIconSys")) return TTrayRoute::trQtWidget;
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
  return TTrayRoute::trStatusNotifier;
#else
  return TTrayRoute::trNative;
#endif
}

QString TrayToolTip(const QString& AText, TTrayRoute ARoute) {
  return ARoute == TTrayRoute::trQtWidget ? LiteralRichText(AText) : AText;
}

QString BalloonMessage(const QString& AText, TTrayRoute ARoute) {
  // A notification server without markup shows the entities; the tooltip subtext, which
  // carries the same text, is markup on every host, so the text is escaped all the same.
  return ARoute == TTrayRoute::trStatusNotifier ? LiteralMarkup(AText) : AText;
}

}  // namespace halvora

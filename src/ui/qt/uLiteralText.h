#pragma once

#include <QString>

namespace halvora {

// Text from the controller, much of it from the network, made to show character for character
// where Qt or the desktop would otherwise read markup or placeholders in it. Labels and message
// boxes need none of this: they are set to plain text.

// A window caption: Qt takes "[*]" for the place of its unsaved-changes mark and drops it, and
// shows "[*][*]" as "[*]".
QString LiteralCaption(const QString& AText);

// Rich text that shows AText as it is, blanks and line breaks included: for the places where
// Qt guesses the format (Qt::mightBeRichText), such as tooltips.
QString LiteralRichText(const QString& AText);

// AText for the XML-based markup that the desktop's notification server and StatusNotifier
// hosts read: its markup characters as entities.
QString LiteralMarkup(const QString& AText);

// How the tray icon's texts reach the screen.
enum class TTrayRoute {
  // Qt draws the icon in an XEmbed notification area: the tooltip is a QToolTip, which
  // guesses the format; the balloon is Qt's own widget with plain-text labels.
  trQtWidget,
  // The icon is a StatusNotifierItem on D-Bus. The tooltip is the item's tooltip title, plain
  // text. A balloon's title goes to plain-text fields too, but its message becomes the item's
  // tooltip subtext and the body of a desktop notification, both read as markup.
  trStatusNotifier,
  // The platform's own tray, which shows plain text.
  trNative,
};

// The route of the application's tray icon; meaningful while the icon is visible.
TTrayRoute CurrentTrayRoute();

// The tooltip and the balloon message to hand to QSystemTrayIcon on ARoute.
QString TrayToolTip(const QString& AText, TTrayRoute ARoute);
QString BalloonMessage(const QString& AText, TTrayRoute ARoute);

}  // namespace halvora

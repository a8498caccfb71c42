#include "uTestApp.h"

#include <cstdlib>
#include <stdexcept>

#include <QScreen>
#include <QTest>

#ifdef HALVORA_UI_XVFB
#include "support/linux/uXvfb.h"
#endif

namespace halvora::test {

TTestApp::TTestApp() {
  static int Argc = 1;
  static char Name[] = "ui_tests";
  static char* Argv[] = {Name, nullptr};
#ifdef HALVORA_UI_XVFB
  static TXvfb Server;
  qputenv("DISPLAY", Server.Display().c_str());
  qputenv("QT_QPA_PLATFORM", "xcb");
#else
  qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  // Kept until the process ends: Qt cannot be torn down from static destructors.
  if (!QApplication::instance()) new QApplication(Argc, Argv);
}

QImage Screenshot(QWidget& AWindow) {
#ifdef HALVORA_UI_XVFB
  AWindow.show();
  if (!QTest::qWaitForWindowExposed(&AWindow)) return {};
  // Let the first paint reach the server before reading it back.
  QTest::qWait(50);
  return AWindow.screen()->grabWindow(AWindow.winId()).toImage();
#else
  return AWindow.grab().toImage();
#endif
}

const char* PlatformSuffix() {
#ifdef HALVORA_UI_XVFB
  return "-x11";
#else
  return "";
#endif
}

bool Near(QRgb A, QRgb B, int ATolerance) {
  return std::abs(qRed(A) - qRed(B)) <= ATolerance &&
         std::abs(qGreen(A) - qGreen(B)) <= ATolerance &&
         std::abs(qBlue(A) - qBlue(B)) <= ATolerance;
}

bool Shows(const QImage& AImage, QRgb AColor, int ATolerance) {
  for (int Y = 0; Y < AImage.height(); ++Y)
    for (int X = 0; X < AImage.width(); ++X)
      if (Near(AImage.pixel(X, Y), AColor, ATolerance)) return true;
  return false;
}

void SaveRedPicture(const std::string& APath) {
  QImage Red(32, 32, QImage::Format_RGB32);
  Red.fill(Qt::red);
  if (!Red.save(QString::fromStdString(APath))) throw std::runtime_error("cannot save " + APath);
}

}  // namespace halvora::test

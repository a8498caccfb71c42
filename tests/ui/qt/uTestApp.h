#pragma once

#include <QApplication>
#include <QImage>
#include <QWidget>

#include <string>

namespace halvora::test {

// The application the widget tests run in, created on first use: on Qt's offscreen platform,
// or, in the builds that define HALVORA_UI_XVFB, on a private Xvfb server through xcb.
struct TTestApp {
  TTestApp();
};

// What AWindow shows: rendered by Qt offscreen, or read back from the X server after the
// window was mapped and painted.
QImage Screenshot(QWidget& AWindow);

// Whether each channel of A is within ATolerance of B's.
bool Near(QRgb A, QRgb B, int ATolerance = 8);
// Whether some pixel of AImage is within ATolerance of AColor.
bool Shows(const QImage& AImage, QRgb AColor, int ATolerance);

// A solid red picture at APath, for markup that would draw it: red on screen shows it drawn.
void SaveRedPicture(const std::string& APath);

// "" offscreen, "-x11" on Xvfb: keeps the artifacts of the two platforms apart.
const char* PlatformSuffix();

}  // namespace halvora::test

#pragma once

#include <QApplication>
#include <QImage>
#include <QWidget>

namespace halvora::test {

// The application the widget tests run in, created on first use: on Qt's offscreen platform,
// or, in the builds that define HALVORA_UI_XVFB, on a private Xvfb server through xcb.
struct TTestApp {
  TTestApp();
};

// What AWindow shows: rendered by Qt offscreen, or read back from the X server after the
// window was mapped and painted.
QImage Screenshot(QWidget& AWindow);

// "" offscreen, "-x11" on Xvfb: keeps the artifacts of the two platforms apart.
const char* PlatformSuffix();

}  // namespace halvora::test

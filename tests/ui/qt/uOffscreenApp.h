#pragma once

#include <QApplication>

namespace halvora::test {

// Creates the offscreen application on first use; it lives until the process ends.
struct TOffscreenApp {
  TOffscreenApp() {
    static int Argc = 1;
    static char Name[] = "ui_tests";
    static char* Argv[] = {Name, nullptr};
    if (QApplication::instance()) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(Argc, Argv);
  }
};

}  // namespace halvora::test

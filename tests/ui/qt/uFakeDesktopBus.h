#pragma once

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <QThread>

#include <memory>
#include <mutex>
#include <vector>

#include "support/linux/uChildProcess.h"

namespace halvora::test {

// A private D-Bus session bus with the two services of a desktop that the tray talks to: a
// StatusNotifier watcher that reports a host, and a notification server with body markup.
// Both are served on a thread of their own, so the test's main thread stays free to serve the
// tray icon's item. Like the application, whose session bus it becomes, it lives until the
// process ends; the daemon ends with the process.
class TFakeDesktopBus {
 public:
  struct TNotification {
    QString Summary, Body;
  };
  struct TToolTip {
    QString Title, Text;
  };

  // The process's bus, started on first use, before the test application (TTestApp), which
  // it then makes: dbus-daemon, with DBUS_SESSION_BUS_ADDRESS pointed at it, and the services
  // on their thread. Throws when it cannot start.
  static TFakeDesktopBus& Instance();
  TFakeDesktopBus(const TFakeDesktopBus&) = delete;
  TFakeDesktopBus& operator=(const TFakeDesktopBus&) = delete;

  // Bus names of the items registered with the watcher, in order.
  QStringList Items() const;
  std::vector<TNotification> Notifications() const;
  // The ToolTip property of the item AService, read while the caller's event loop runs (the
  // item answers on the main thread); empty when it could not be read.
  TToolTip ToolTip(const QString& AService);

  class TServices;

 private:
  TFakeDesktopBus();

  std::unique_ptr<TChildProcess> FDaemon;
  QThread FThread;
  std::unique_ptr<TServices> FServices;
};

}  // namespace halvora::test

#include "uFakeDesktopBus.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QTest>

#include <atomic>
#include <stdexcept>

#include "uTestApp.h"

namespace halvora::test {
namespace {

const QString cWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString cWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString cNotifyService = QStringLiteral("org.freedesktop.Notifications");
const QString cNotifyPath = QStringLiteral("/org/freedesktop/Notifications");
const QString cConnection = QStringLiteral("halvora-fake-desktop");

// What a client introspects before it reads properties through QDBusInterface.
const char* const cWatcherInterface =
    "<interface name=\"org.kde.StatusNotifierWatcher\">"
    "<method name=\"RegisterStatusNotifierItem\"><arg type=\"s\" direction=\"in\"/></method>"
    "<method name=\"RegisterStatusNotifierHost\"><arg type=\"s\" direction=\"in\"/></method>"
    "<property name=\"RegisteredStatusNotifierItems\" type=\"as\" access=\"read\"/>"
    "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
    "<property name=\"ProtocolVersion\" type=\"i\" access=\"read\"/>"
    "</interface>";

}  // namespace

// Both services as one object on the worker thread, answering every message itself.
class TFakeDesktopBus::TServices final : public QDBusVirtualObject {
 public:
  QString introspect(const QString& APath) const override {
    return APath == cWatcherPath ? QString::fromLatin1(cWatcherInterface) : QString();
  }

  bool handleMessage(const QDBusMessage& AMessage, const QDBusConnection& AConnection) override {
    const QString Member = AMessage.member();
    const QVariantList Args = AMessage.arguments();
    QDBusMessage Reply;
    if (Member == QLatin1String("Introspect")) {
      Reply = AMessage.createReply(QStringLiteral("<node>") + introspect(AMessage.path()) +
                                   QStringLiteral("</node>"));
    } else if (Member == QLatin1String("Get")) {
      const QString Name = Args.value(1).toString();
      std::lock_guard Guard(FLock);
      const QVariant Value = Name == QLatin1String("IsStatusNotifierHostRegistered")
                                 ? QVariant(true)
                             : Name == QLatin1String("ProtocolVersion") ? QVariant(0)
                                                                        : QVariant(FItems);
      Reply = AMessage.createReply(QVariant::fromValue(QDBusVariant(Value)));
    } else if (Member == QLatin1String("RegisterStatusNotifierItem")) {
      std::lock_guard Guard(FLock);
      FItems << (Args.value(0).toString().startsWith(QLatin1Char('/')) ? AMessage.service()
                                                                       : Args.value(0).toString());
      Reply = AMessage.createReply();
    } else if (Member == QLatin1String("GetCapabilities")) {
      Reply =
          AMessage.createReply(QStringList{QStringLiteral("body"), QStringLiteral("body-markup")});
    } else if (Member == QLatin1String("Notify")) {
      std::lock_guard Guard(FLock);
      FNotifications.push_back({Args.value(3).toString(), Args.value(4).toString()});
      Reply = AMessage.createReply(QVariant::fromValue(static_cast<uint>(FNotifications.size())));
    } else if (Member == QLatin1String("GetServerInformation")) {
      Reply = AMessage.createReply(QVariantList{QStringLiteral("fake"), QStringLiteral("halvora"),
                                                QStringLiteral("1"), QStringLiteral("1.2")});
    } else {
      Reply = AMessage.createErrorReply(QDBusError::UnknownMethod, Member);
    }
    AConnection.send(Reply);
    return true;
  }

  mutable std::mutex FLock;
  QStringList FItems;
  std::vector<TNotification> FNotifications;
};

TFakeDesktopBus::TFakeDesktopBus() : FServices(std::make_unique<TServices>()) {
  std::string Address;
  FDaemon = StartReportingLine(
      "/usr/bin/dbus-daemon",
      [](const std::string& AFd) {
        return std::vector<std::string>{"--session", "--nofork", "--nopidfile",
                                        "--print-address=" + AFd};
      },
      Address);
  if (Address.empty()) throw std::runtime_error("dbus-daemon did not start");
  qputenv("DBUS_SESSION_BUS_ADDRESS", QByteArray::fromStdString(Address));
  TTestApp App;  // the worker's event loop needs it

  FThread.start();
  FServices->moveToThread(&FThread);
  bool Ready = false;
  QMetaObject::invokeMethod(
      FServices.get(),
      [&] {
        QDBusConnection Bus =
            QDBusConnection::connectToBus(QString::fromStdString(Address), cConnection);
        Ready = Bus.registerService(cWatcherService) && Bus.registerService(cNotifyService) &&
                Bus.registerVirtualObject(cWatcherPath, FServices.get()) &&
                Bus.registerVirtualObject(cNotifyPath, FServices.get());
      },
      Qt::BlockingQueuedConnection);
  if (!Ready) {
    FThread.quit();
    FThread.wait();
    throw std::runtime_error("the fake desktop services could not register");
  }
}

TFakeDesktopBus& TFakeDesktopBus::Instance() {
  static TFakeDesktopBus* const Bus = new TFakeDesktopBus();
  return *Bus;
}

QStringList TFakeDesktopBus::Items() const {
  std::lock_guard Guard(FServices->FLock);
  return FServices->FItems;
}

std::vector<TFakeDesktopBus::TNotification> TFakeDesktopBus::Notifications() const {
  std::lock_guard Guard(FServices->FLock);
  return FServices->FNotifications;
}

TFakeDesktopBus::TToolTip TFakeDesktopBus::ToolTip(const QString& AService) {
  // Shared with the worker, which may still finish after a wait that gave up.
  struct TRead {
    std::atomic<bool> Done{false};
    TToolTip Tip;
  };
  const auto Read = std::make_shared<TRead>();
  QMetaObject::invokeMethod(FServices.get(), [Read, AService] {
    QDBusMessage Get = QDBusMessage::createMethodCall(
        AService, QStringLiteral("/StatusNotifierItem"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    Get << QStringLiteral("org.kde.StatusNotifierItem") << QStringLiteral("ToolTip");
    const QDBusMessage Reply = QDBusConnection(cConnection).call(Get, QDBus::Block, 10000);
    if (Reply.type() == QDBusMessage::ReplyMessage) {
      // (icon name, [(width, height, pixels)], title, text)
      const QDBusArgument Tip =
          Reply.arguments().value(0).value<QDBusVariant>().variant().value<QDBusArgument>();
      QString Icon;
      Tip.beginStructure();
      Tip >> Icon;
      Tip.beginArray();
      while (!Tip.atEnd()) {
        int Width, Height;
        QByteArray Pixels;
        Tip.beginStructure();
        Tip >> Width >> Height >> Pixels;
        Tip.endStructure();
      }
      Tip.endArray();
      Tip >> Read->Tip.Title >> Read->Tip.Text;
      Tip.endStructure();
    }
    Read->Done = true;
  });
  if (!QTest::qWaitFor([&] { return Read->Done.load(); }, 15000)) return {};
  return Read->Tip;
}

}  // namespace halvora::test

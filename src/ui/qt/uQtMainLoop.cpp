#include "ui/qt/uQtMainLoop.h"

#include <QCoreApplication>

#include <atomic>
#include <memory>

namespace halvora {

void BindMainQueueToQt(TMainQueue& AQueue) {
  AQueue.BindToCurrentThread();
  // Posts that arrive while a drain is already scheduled ride along with it. The flag drops
  // before the drain starts, so a post made during the drain schedules the next one.
  auto Scheduled = std::make_shared<std::atomic<bool>>(false);
  AQueue.SetWakeUp([&AQueue, Scheduled] {
    QCoreApplication* App = QCoreApplication::instance();
    if (!App || Scheduled->exchange(true)) return;
    QMetaObject::invokeMethod(
        App,
        [&AQueue, Scheduled] {
          Scheduled->store(false);
          AQueue.ProcessPending();
        },
        Qt::QueuedConnection);
  });
}

TTickTimer::TTickTimer(std::function<void()> ATick) {
  QObject::connect(&FTimer, &QTimer::timeout, std::move(ATick));
  FTimer.start(1000);
}

}  // namespace halvora

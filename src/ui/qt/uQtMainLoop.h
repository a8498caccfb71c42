#pragma once

#include <QTimer>

#include <functional>

#include "base/uMainQueue.h"

namespace halvora {

// Makes the calling thread, which runs Qt's event loop, the main thread of AQueue: a post from
// any thread schedules one drain of the queue on that loop.
void BindMainQueueToQt(TMainQueue& AQueue);

// Calls ATick every second on the thread that created it, until destroyed.
class TTickTimer {
 public:
  explicit TTickTimer(std::function<void()> ATick);

 private:
  QTimer FTimer;
};

}  // namespace halvora

#include "support/uTestLoop.h"

namespace halvora::test {

TTestLoop::TTestLoop() {
  FQueue.SetWakeUp([this] {
    std::lock_guard Guard(FLock);
    FWoken = true;
    FPosted.notify_all();
  });
}

TTestLoop::~TTestLoop() {
  FQueue.Shutdown();
  FQueue.SetWakeUp(nullptr);
}

bool TTestLoop::RunUntil(const std::function<bool()>& APredicate,
                         std::chrono::milliseconds ATimeout) {
  const auto Deadline = std::chrono::steady_clock::now() + ATimeout;
  for (;;) {
    FQueue.ProcessPending();
    if (APredicate()) return true;
    std::unique_lock Guard(FLock);
    // Conditions outside the queue (a server that got a message) are checked again at a
    // short interval; queued work wakes the loop at once.
    FPosted.wait_until(Guard, std::min(Deadline, std::chrono::steady_clock::now() +
                                                     std::chrono::milliseconds(5)),
                       [&] { return FWoken; });
    FWoken = false;
    if (std::chrono::steady_clock::now() >= Deadline) {
      Guard.unlock();
      FQueue.ProcessPending();
      return APredicate();
    }
  }
}

}  // namespace halvora::test

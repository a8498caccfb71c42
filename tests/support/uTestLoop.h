#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

#include "base/uMainQueue.h"

namespace halvora::test {

// The deterministic main loop of the tests: the test thread is the main thread and runs
// queued procedures only when it asks to.
class TTestLoop {
 public:
  TTestLoop();
  ~TTestLoop();

  TMainQueue& Queue() { return FQueue; }
  // Runs queued procedures until APredicate holds; false when it still does not after
  // ATimeout of real time (a guard against hangs, not a measure).
  bool RunUntil(const std::function<bool()>& APredicate,
                std::chrono::milliseconds ATimeout = std::chrono::seconds(10));
  std::size_t RunPending() { return FQueue.ProcessPending(); }

 private:
  TMainQueue FQueue;
  std::mutex FLock;
  std::condition_variable FPosted;
  bool FWoken = false;
};

}  // namespace halvora::test

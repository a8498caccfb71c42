#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "base/uClock.h"

namespace halvora::test {

// A clock that moves only when the test advances it. Waiting threads wake when their time
// has come, so minute-long behaviours run without sleeping.
class TTestClock final : public IClock {
 public:
  explicit TTestClock(std::uint32_t AStart = 1000) : FNow(AStart) {}

  std::uint32_t GetTickCount() override;
  bool WaitFor(TEvent& AEvent, std::uint32_t AMilliseconds) override;

  void Advance(std::uint32_t AMilliseconds);
  // Blocks (real time, as a guard against hangs) until at least ACount threads wait here.
  bool WaitForWaiters(std::size_t ACount,
                      std::chrono::milliseconds ATimeout = std::chrono::seconds(10));
  // Blocks until ACount waits have begun since the clock was made (the last may have ended).
  bool WaitForWaits(std::size_t ACount,
                    std::chrono::milliseconds ATimeout = std::chrono::seconds(10));
  std::size_t WaiterCount();
  // Every wait requested so far, in milliseconds, in order.
  std::vector<std::uint32_t> Waits();

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  std::atomic<std::uint64_t> FNow;  // read by waiters under their event's lock
  std::vector<TEvent*> FWaiters;
  std::vector<std::uint32_t> FWaits;
};

}  // namespace halvora::test

#include "support/uTestClock.h"

#include <algorithm>

namespace halvora::test {

std::uint32_t TTestClock::GetTickCount() {
  std::lock_guard Guard(FLock);
  return static_cast<std::uint32_t>(FNow.load());
}

bool TTestClock::WaitFor(TEvent& AEvent, std::uint32_t AMilliseconds) {
  std::uint64_t Deadline = 0;
  {
    std::lock_guard Guard(FLock);
    Deadline = AMilliseconds == InfiniteWait ? UINT64_MAX : FNow + AMilliseconds;
    FWaiters.push_back(&AEvent);
    FWaits.push_back(AMilliseconds);
  }
  FChanged.notify_all();
  const bool Signaled = AEvent.WaitWhileNot([&] { return FNow.load() >= Deadline; });
  {
    std::lock_guard Guard(FLock);
    FWaiters.erase(std::find(FWaiters.begin(), FWaiters.end(), &AEvent));
  }
  FChanged.notify_all();
  return Signaled;
}

void TTestClock::Advance(std::uint32_t AMilliseconds) {
  // Poking under the lock keeps every registered event alive: a waiter deregisters, under
  // this lock, before its wait returns.
  std::lock_guard Guard(FLock);
  FNow += AMilliseconds;
  for (TEvent* Event : FWaiters) Event->Poke();
}

bool TTestClock::WaitForWaiters(std::size_t ACount, std::chrono::milliseconds ATimeout) {
  std::unique_lock Guard(FLock);
  return FChanged.wait_for(Guard, ATimeout, [&] { return FWaiters.size() >= ACount; });
}

bool TTestClock::WaitForWaits(std::size_t ACount, std::chrono::milliseconds ATimeout) {
  std::unique_lock Guard(FLock);
  return FChanged.wait_for(Guard, ATimeout, [&] { return FWaits.size() >= ACount; });
}

std::size_t TTestClock::WaiterCount() {
  std::lock_guard Guard(FLock);
  return FWaiters.size();
}

std::vector<std::uint32_t> TTestClock::Waits() {
  std::lock_guard Guard(FLock);
  return FWaits;
}

}  // namespace halvora::test

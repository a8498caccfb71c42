#include "relay/uRelayBudget.h"

namespace halvora::relay {

void TByteBudget::Add(std::size_t ABytes) {
  std::lock_guard Guard(FLock);
  FUsed += ABytes;
}

void TByteBudget::Remove(std::size_t ABytes) {
  std::vector<std::function<void()>> Ready;
  {
    std::lock_guard Guard(FLock);
    FUsed -= ABytes;
    if (FUsed <= FLimit / 2) Ready.swap(FWaiters);
  }
  for (auto& Resume : Ready) Resume();
}

bool TByteBudget::WaitForRoom(std::function<void()> AResume) {
  std::lock_guard Guard(FLock);
  if (FUsed <= FLimit) return false;
  FWaiters.push_back(std::move(AResume));
  return true;
}

void TByteBudget::Drop() {
  std::vector<std::function<void()>> Dropped;
  {
    std::lock_guard Guard(FLock);
    Dropped.swap(FWaiters);
  }
}

}  // namespace halvora::relay

#include "base/uMainQueue.h"

#include <algorithm>

namespace halvora {

TMainQueue::TMainQueue() : FMainThread(std::this_thread::get_id()) {}

void TMainQueue::BindToCurrentThread() {
  std::lock_guard Guard(FLock);
  FMainThread = std::this_thread::get_id();
}

bool TMainQueue::IsMainThread() const {
  std::lock_guard Guard(FLock);
  return FMainThread == std::this_thread::get_id();
}

void TMainQueue::SetWakeUp(std::function<void()> AWakeUp) {
  std::lock_guard Guard(FLock);
  FWakeUp = std::move(AWakeUp);
}

bool TMainQueue::Enqueue(TItem AItem) {
  {
    std::lock_guard Guard(FLock);
    if (FShutdown || FSealed.count(AItem.Tag) != 0) return false;
    FItems.push_back(std::move(AItem));
  }
  Wake();
  return true;
}

void TMainQueue::Wake() {
  std::function<void()> WakeUp;
  {
    std::lock_guard Guard(FLock);
    WakeUp = FWakeUp;
  }
  if (WakeUp) WakeUp();
}

bool TMainQueue::Post(TQueueTag ATag, TProc AProc) {
  return Enqueue(TItem{ATag, std::move(AProc), nullptr});
}

bool TMainQueue::CallAndWait(TQueueTag ATag, TProc AProc) {
  if (IsMainThread()) {
    {
      std::lock_guard Guard(FLock);
      if (FShutdown || FSealed.count(ATag) != 0) return false;
    }
    AProc();
    return true;
  }
  auto Call = std::make_shared<TCall>();
  if (!Enqueue(TItem{ATag, std::move(AProc), Call})) return false;
  std::unique_lock Guard(FLock);
  FChanged.wait(Guard, [&] { return Call->Done; });
  return Call->Ran;
}

void TMainQueue::RemoveLocked(TQueueTag ATag) {
  auto Removed = std::stable_partition(FItems.begin(), FItems.end(),
                                       [&](const TItem& AItem) { return AItem.Tag != ATag; });
  for (auto It = Removed; It != FItems.end(); ++It)
    if (It->Call) It->Call->Done = true;
  FItems.erase(Removed, FItems.end());
  FChanged.notify_all();
}

void TMainQueue::Withdraw(TQueueTag ATag) {
  std::unique_lock Guard(FLock);
  RemoveLocked(ATag);
  if (FMainThread != std::this_thread::get_id())
    FChanged.wait(Guard, [&] { return FRunning != ATag; });
}

void TMainQueue::Seal(TQueueTag ATag) {
  {
    std::lock_guard Guard(FLock);
    FSealed.insert(ATag);
  }
  Withdraw(ATag);
}

void TMainQueue::Unseal(TQueueTag ATag) {
  std::lock_guard Guard(FLock);
  auto It = FSealed.find(ATag);
  if (It != FSealed.end()) FSealed.erase(It);
}

std::size_t TMainQueue::ProcessPending() {
  std::unique_lock Guard(FLock);
  // Only what was queued before this call runs now, so a procedure that queues another
  // cannot keep the loop here. Procedures may withdraw others, so count as we go.
  std::size_t Budget = FItems.size();
  std::size_t Ran = 0;
  while (Budget > 0 && !FItems.empty()) {
    --Budget;
    TItem Item = std::move(FItems.front());
    FItems.pop_front();
    FRunning = Item.Tag;
    Guard.unlock();
    bool Completed = false;
    try {
      Item.Proc();
      Completed = true;
    } catch (...) {
      // A failing procedure must not take the event loop down with it.
    }
    Guard.lock();
    FRunning = nullptr;
    if (Item.Call) {
      Item.Call->Done = true;
      Item.Call->Ran = Completed;
    }
    FChanged.notify_all();
    ++Ran;
  }
  return Ran;
}

std::size_t TMainQueue::PendingCount() const {
  std::lock_guard Guard(FLock);
  return FItems.size();
}

void TMainQueue::Shutdown() {
  std::lock_guard Guard(FLock);
  FShutdown = true;
  for (auto& Item : FItems)
    if (Item.Call) Item.Call->Done = true;
  FItems.clear();
  FChanged.notify_all();
}

void TMainQueue::Restart() {
  std::lock_guard Guard(FLock);
  FShutdown = false;
}

TMainQueue& MainQueue() {
  static TMainQueue Queue;
  return Queue;
}

}  // namespace halvora

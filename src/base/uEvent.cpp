#include "base/uEvent.h"

#include <chrono>

namespace halvora {

TEvent::TEvent(bool AManualReset, bool AInitialState)
    : FManualReset(AManualReset), FSignaled(AInitialState) {}

void TEvent::SetEvent() {
  std::lock_guard Guard(FLock);
  FSignaled = true;
  if (FManualReset)
    FCond.notify_all();
  else
    FCond.notify_one();
}

void TEvent::ResetEvent() {
  std::lock_guard Guard(FLock);
  FSignaled = false;
}

bool TEvent::IsSet() const {
  std::lock_guard Guard(FLock);
  return FSignaled;
}

bool TEvent::Consume() {
  if (!FSignaled) return false;
  if (!FManualReset) FSignaled = false;
  return true;
}

bool TEvent::WaitWhileNot(const std::function<bool()>& AExpired) {
  std::unique_lock Guard(FLock);
  for (;;) {
    if (Consume()) return true;
    if (AExpired()) return false;
    FCond.wait(Guard);
  }
}

bool TEvent::WaitReal(unsigned AMilliseconds) {
  std::unique_lock Guard(FLock);
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMilliseconds);
  for (;;) {
    if (Consume()) return true;
    if (FCond.wait_until(Guard, Deadline) == std::cv_status::timeout) return Consume();
  }
}

void TEvent::Poke() {
  std::lock_guard Guard(FLock);
  FCond.notify_all();
}

}  // namespace halvora

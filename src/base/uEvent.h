#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

namespace halvora {

// A manual- or auto-reset event. Timed waits go through IClock (uClock.h), so that
// tests can drive time by hand.
class TEvent {
 public:
  TEvent(bool AManualReset, bool AInitialState);
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void SetEvent();
  void ResetEvent();
  bool IsSet() const;

  // Blocks until the event is set (true; an auto-reset event is consumed) or AExpired()
  // turns true (false). AExpired is evaluated under the event's lock after every wake-up.
  bool WaitWhileNot(const std::function<bool()>& AExpired);
  // Real-time wait used by the system clock.
  bool WaitReal(unsigned AMilliseconds);
  // Wakes waiters so that they evaluate their expiry again (used by clocks).
  void Poke();

 private:
  bool Consume();

  const bool FManualReset;
  bool FSignaled;
  mutable std::mutex FLock;
  std::condition_variable FCond;
};

}  // namespace halvora

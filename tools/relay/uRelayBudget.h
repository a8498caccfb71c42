#pragma once

#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

namespace halvora::relay {

// Bytes queued for sending by a group of connections (one address, or all of them), with
// senders waiting while the group holds more than its limit. Every method may be called from
// any thread; waiters are called outside the lock.
class TByteBudget {
 public:
  explicit TByteBudget(std::size_t ALimit) : FLimit(ALimit) {}

  void Add(std::size_t ABytes);
  // Once the total is down to half the limit, every waiter is called (and forgotten).
  void Remove(std::size_t ABytes);
  // False when the total is within the limit. Otherwise true, and AResume is called once the
  // total has drained to half the limit.
  bool WaitForRoom(std::function<void()> AResume);
  // Forgets the waiters without calling them (the server is stopping).
  void Drop();

 private:
  const std::size_t FLimit;
  std::mutex FLock;
  std::size_t FUsed = 0;                        // guarded by FLock
  std::vector<std::function<void()>> FWaiters;  // guarded by FLock
};

}  // namespace halvora::relay

#pragma once

#include <atomic>
#include <thread>

namespace halvora {

// Which thread an object belongs to: the one that made it, or after Detach the next one that
// checks. HALVORA_CHECK_THREAD aborts with the place of the call when another thread calls;
// it checks in debug builds and in builds that define HALVORA_THREAD_CHECKS (the sanitizer
// builds do), and costs nothing elsewhere.
class TThreadCheck {
 public:
  TThreadCheck() : FOwner(std::this_thread::get_id()) {}

  // True on the owning thread; an unowned check takes the calling thread as its owner.
  bool OnOwnThread() const {
    const std::thread::id Self = std::this_thread::get_id();
    std::thread::id Owner = FOwner.load();
    if (Owner == std::thread::id() && FOwner.compare_exchange_strong(Owner, Self)) return true;
    return Owner == Self;
  }
  // The next thread that checks becomes the owner.
  void Detach() { FOwner.store(std::thread::id()); }

 private:
  mutable std::atomic<std::thread::id> FOwner;
};

// Reports a call on the wrong thread and aborts.
[[noreturn]] void WrongThread(const char* AFile, int ALine);

}  // namespace halvora

#if !defined(NDEBUG) && !defined(HALVORA_THREAD_CHECKS)
#define HALVORA_THREAD_CHECKS 1
#endif

#ifdef HALVORA_THREAD_CHECKS
#define HALVORA_CHECK_THREAD(ACheck) \
  ((ACheck).OnOwnThread() ? (void)0 : ::halvora::WrongThread(__FILE__, __LINE__))
#else
#define HALVORA_CHECK_THREAD(ACheck) ((void)sizeof(ACheck))
#endif

#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

namespace halvora {

// Identifies who queued a procedure (a worker thread object), so that its procedures can
// be withdrawn when it goes away.
using TQueueTag = const void*;

// Procedures queued to the main thread. Workers post; the main thread's event loop runs
// ProcessPending whenever the wake-up hook fires (Qt posts a drain; tests drain by hand).
class TMainQueue {
 public:
  using TProc = std::function<void()>;

  TMainQueue();
  TMainQueue(const TMainQueue&) = delete;
  TMainQueue& operator=(const TMainQueue&) = delete;

  // The thread that runs ProcessPending; by default the one that created the queue.
  void BindToCurrentThread();
  bool IsMainThread() const;
  // Called on the posting thread after every post; must be cheap and must not run the queue.
  void SetWakeUp(std::function<void()> AWakeUp);

  // Queues AProc; false (dropped) when ATag is sealed or the queue is shut down.
  bool Post(TQueueTag ATag, TProc AProc);
  // Runs AProc on the main thread and waits for it. On the main thread it runs at once.
  // False when it did not run: the tag was sealed or withdrawn, or the queue shut down.
  bool CallAndWait(TQueueTag ATag, TProc AProc);
  // Removes ATag's procedures that have not run and fails its pending calls. From another
  // thread than the main one it also waits for a procedure of ATag that is running.
  void Withdraw(TQueueTag ATag);
  // Withdraws ATag and refuses its later posts and calls until Unseal.
  void Seal(TQueueTag ATag);
  void Unseal(TQueueTag ATag);

  // Main thread: runs the procedures queued before this call, one at a time, in order.
  // Returns how many ran.
  std::size_t ProcessPending();
  std::size_t PendingCount() const;
  // The loop is gone: pending calls fail, later posts are dropped and later calls fail.
  void Shutdown();
  // Opens the queue again after Shutdown (tests reuse the process-wide queue).
  void Restart();

 private:
  struct TCall {
    bool Done = false;
    bool Ran = false;
  };
  struct TItem {
    TQueueTag Tag;
    TProc Proc;
    std::shared_ptr<TCall> Call;
  };

  bool Enqueue(TItem AItem);
  void RemoveLocked(TQueueTag ATag);
  void Wake();

  mutable std::mutex FLock;
  std::condition_variable FChanged;
  std::deque<TItem> FItems;
  std::multiset<TQueueTag> FSealed;
  std::function<void()> FWakeUp;
  std::thread::id FMainThread;
  TQueueTag FRunning = nullptr;
  bool FShutdown = false;
};

// The process-wide queue that worker threads post to by default.
TMainQueue& MainQueue();

}  // namespace halvora

#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "base/uEvent.h"
#include "base/uMainQueue.h"

namespace halvora {

// Base of every worker thread. A derived class overrides Execute and, in its destructor,
// calls StopThread before its own members go away. Procedures it queues to the main thread
// carry this object as their tag and are withdrawn when it is destroyed.
class TThread {
 public:
  explicit TThread(TMainQueue& AQueue = MainQueue());
  virtual ~TThread();
  TThread(const TThread&) = delete;
  TThread& operator=(const TThread&) = delete;

  void Start();
  // Asks Execute to end; it is expected to poll Terminated and to be woken by the caller.
  void Terminate();
  bool Terminated() const { return FTerminated.load(); }
  bool Finished() const { return FFinished.IsSet(); }
  // Waits up to AMilliseconds of real time for Execute to return.
  bool WaitFinished(unsigned AMilliseconds) { return FFinished.WaitReal(AMilliseconds); }
  // Joins the thread; a second call, or a call on a thread never started, returns at once.
  void WaitFor();

 protected:
  virtual void Execute() = 0;

  // Queues AProc to the main thread without waiting for it.
  void Queue(TMainQueue::TProc AProc);
  // Runs AProc on the main thread and waits; false when it could not run (the owner is
  // destroying this thread, or the main loop is gone), so shutdown never hangs here.
  bool Synchronize(TMainQueue::TProc AProc);
  // Drops this thread's queued procedures that have not run yet.
  void RemoveQueuedEvents();
  // Terminates, refuses further queueing, joins and withdraws what is still queued.
  // Derived destructors call it first; calling it again does nothing.
  void StopThread();

  TMainQueue& FQueue;

 private:
  void Run();

  std::thread FThread;
  std::atomic<bool> FTerminated{false};
  TEvent FFinished{true, false};
};

}  // namespace halvora

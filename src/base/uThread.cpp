#include "base/uThread.h"

namespace halvora {

TThread::TThread(TMainQueue& AQueue) : FQueue(AQueue) {}

TThread::~TThread() { StopThread(); }

void TThread::Start() { FThread = std::thread([this] { Run(); }); }

void TThread::Run() {
  try {
    Execute();
  } catch (...) {
    // No exception leaves a worker thread; Execute ends silently.
  }
  FFinished.SetEvent();
}

void TThread::Terminate() { FTerminated.store(true); }

void TThread::WaitFor() {
  if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id()) FThread.join();
}

void TThread::Queue(TMainQueue::TProc AProc) { FQueue.Post(this, std::move(AProc)); }

bool TThread::Synchronize(TMainQueue::TProc AProc) {
  return FQueue.CallAndWait(this, std::move(AProc));
}

void TThread::RemoveQueuedEvents() { FQueue.Withdraw(this); }

void TThread::StopThread() {
  Terminate();
  FQueue.Seal(this);
  WaitFor();
  FQueue.Withdraw(this);
  FQueue.Unseal(this);
}

}  // namespace halvora

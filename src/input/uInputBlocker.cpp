#include "input/uInputBlocker.h"

#include <exception>

namespace halvora {

TBlockThread::TBlockThread(TInputBlockFactory ANewBlock) : FNewBlock(std::move(ANewBlock)) {
  Start();
}

TBlockThread::~TBlockThread() {
  FReady.WaitWhileNot([] { return false; });
  Stop();
  StopThread();
}

bool TBlockThread::WaitInstalled() {
  FReady.WaitWhileNot([] { return false; });
  return FInstalled.load();
}

void TBlockThread::Stop() {
  std::lock_guard Guard(FLock);
  FStopRequested = true;
  if (FBlock) FBlock->Stop();
}

void TBlockThread::Execute() {
  // FReady is set however this ends, so that no waiter hangs.
  struct TReadyGuard {
    TEvent& Ready;
    ~TReadyGuard() { Ready.SetEvent(); }
  } ReadyGuard{FReady};

  std::unique_ptr<IInputBlock> Block;
  bool Installed = false;
  try {
    Block = FNewBlock();
    Installed = Block && Block->Install();
  } catch (...) {
    Installed = false;
  }
  bool StopRequested;
  {
    std::lock_guard Guard(FLock);
    if (Installed) FBlock = Block.get();
    StopRequested = FStopRequested;
  }
  FInstalled.store(Installed);
  FReady.SetEvent();

  if (Installed && !StopRequested) {
    try {
      Block->Run();
    } catch (...) {
      // The block goes below in any case.
    }
  }
  {
    std::lock_guard Guard(FLock);
    FBlock = nullptr;
  }
  if (Block) {
    try {
      Block->Remove();
    } catch (...) {
      // Freeing the block below releases what is left.
    }
  }
}

TInputBlocker::TInputBlocker(TInputBlockFactory ANewBlock) : FNewBlock(std::move(ANewBlock)) {}

TInputBlocker::~TInputBlocker() { FThread.reset(); }

void TInputBlocker::SetActive(bool AActive) {
  if (AActive == Active()) return;
  if (!AActive) {
    FThread.reset();
    return;
  }
  std::unique_ptr<TBlockThread> Thread;
  try {
    Thread = std::make_unique<TBlockThread>(FNewBlock);
  } catch (const std::exception&) {
    return;  // no thread could be made: blocking stays off
  }
  if (Thread->WaitInstalled()) FThread = std::move(Thread);
}

}  // namespace halvora

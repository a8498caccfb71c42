#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include "base/uEvent.h"
#include "base/uThread.h"
#include "input/uInputService.h"

namespace halvora {

// The windowing system's part of local input blocking: while in place, every keyboard and
// mouse event of the local (physical) devices is swallowed and injected events pass. Made on
// the block thread and used there, except Stop.
class IInputBlock {
 public:
  // Frees what the object holds; a block still in place goes with it.
  virtual ~IInputBlock() = default;
  // Puts the block in place; false when it is not complete (a partial block does not count).
  virtual bool Install() = 0;
  // Keeps the block working until Stop is called; returns at once when Stop came first.
  virtual void Run() = 0;
  // Makes Run return. Callable from any thread, also before Run.
  virtual void Stop() = 0;
  // Removes whatever part of the block is in place. Called once after Install, whatever
  // Install returned.
  virtual void Remove() = 0;
};

// Makes the platform block; called on the block thread. It may throw, which counts as a
// failed installation.
using TInputBlockFactory = std::function<std::unique_ptr<IInputBlock>()>;

// The thread that owns the block while blocking is on: it installs the block, reports
// whether that worked, keeps it working until stopped and removes it before it ends.
class TBlockThread final : public TThread {
 public:
  // Starts at once.
  explicit TBlockThread(TInputBlockFactory ANewBlock);
  // Waits until the installation is known, stops the thread and joins it; the block is
  // removed by then.
  ~TBlockThread() override;

  // Waits without a time limit until the thread knows whether the block is in place.
  bool WaitInstalled();
  // Asks the thread to remove the block and end. Any thread; also before the installation
  // is known.
  void Stop();

 protected:
  void Execute() override;

 private:
  const TInputBlockFactory FNewBlock;
  TEvent FReady{true, false};  // set once the installation is known; never cleared
  std::atomic<bool> FInstalled{false};
  std::mutex FLock;              // guards FBlock and FStopRequested
  IInputBlock* FBlock = nullptr;  // the installed block while Run may use it
  bool FStopRequested = false;
};

// Blocking of the local mouse and keyboard during a session. Used from one thread (the
// controller's); the switches wait for the block thread.
class TInputBlocker final : public IInputBlocker {
 public:
  explicit TInputBlocker(TInputBlockFactory ANewBlock);
  // Removes the block when it is on.
  ~TInputBlocker() override;
  TInputBlocker(const TInputBlocker&) = delete;
  TInputBlocker& operator=(const TInputBlocker&) = delete;

  // True while blocking is on.
  bool Active() const override { return FThread != nullptr; }
  // Switches blocking; writing the current state does nothing. Switching on returns once the
  // block is in place or known to have failed (then Active stays false); switching off
  // returns once the block is removed.
  void SetActive(bool AActive) override;

 private:
  const TInputBlockFactory FNewBlock;
  std::unique_ptr<TBlockThread> FThread;
};

}  // namespace halvora

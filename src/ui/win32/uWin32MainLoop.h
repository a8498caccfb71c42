#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>

#include "base/uMainQueue.h"

namespace halvora {

// The main thread's Win32 message loop: the thread that creates it becomes the main thread of
// AQueue, and a post from any thread sends one drain to a message-only window of this thread.
// Run calls the tick every 1000 ms until Quit.
class TWin32MainLoop {
 public:
  explicit TWin32MainLoop(TMainQueue& AQueue = MainQueue());
  ~TWin32MainLoop();
  TWin32MainLoop(const TWin32MainLoop&) = delete;
  TWin32MainLoop& operator=(const TWin32MainLoop&) = delete;

  // Runs the thread's messages until Quit; returns Quit's code.
  int Run(std::function<void()> ATick);
  // From any thread: Run returns AExitCode once the messages before this call are handled.
  // A dialog that runs its own message loop on the loop's thread meanwhile is ended as well.
  void Quit(int AExitCode);

 private:
  static LRESULT CALLBACK WindowProc(HWND AWindow, UINT AMessage, WPARAM AWParam,
                                     LPARAM ALParam);

  TMainQueue& FQueue;
  HWND FWindow = nullptr;  // the message-only window
  // A drain is on its way; posts made meanwhile ride along with it.
  std::shared_ptr<std::atomic<bool>> FScheduled = std::make_shared<std::atomic<bool>>(false);
  std::function<void()> FTick;
  int FExitCode = 0;  // the last Quit's, once its message was taken
};

}  // namespace halvora

#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/uSingleInstance.h"
#include "base/uMainQueue.h"

namespace halvora {

// The folder for this user's markers: $XDG_RUNTIME_DIR, else /tmp/halvora-<uid>, used only
// when it is a real folder of this user that nobody else can enter; empty otherwise.
std::string InstanceFolder();
// The X display this process shows on, as a file-name part (":0" → "_0").
std::string DisplayKey();
// A folder owned by this user, not a link, closed to group and others.
bool IsPrivateFolder(const std::string& APath);

// The marker as a lock file (flock, released by the kernel when the holder dies, so a crash
// leaves nothing that blocks the next start) and a Unix socket beside it for requests.
class TInstanceMarker final : public IInstanceMarker {
 public:
  TInstanceMarker(std::string AFolder, std::string AName, TMainQueue& AQueue = MainQueue());
  ~TInstanceMarker() override;
  TInstanceMarker(const TInstanceMarker&) = delete;
  TInstanceMarker& operator=(const TInstanceMarker&) = delete;

  bool Acquire() override;
  void Listen(std::function<void()> AOnRequest) override;
  bool AskHolderToComeForward() override;

 private:
  class TListener;

  const std::string FFolder;
  const std::string FLockPath;
  const std::string FSocketPath;
  TMainQueue& FQueue;
  int FLockFd = -1;
  bool FHolder = false;
  std::unique_ptr<TListener> FListener;
};

}  // namespace halvora

#include "app/uSingleInstance.h"

namespace halvora {

bool EnsureSingleInstance(IInstanceMarker& AMarker, bool AInstalled,
                          const std::function<void(const std::string&)>& AShowInstalledMessage) {
  if (AMarker.Acquire()) return true;
  AMarker.AskHolderToComeForward();
  if (AInstalled && AShowInstalledMessage) AShowInstalledMessage(AlreadyRunningText);
  return false;
}

}  // namespace halvora

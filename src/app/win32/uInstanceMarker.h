#pragma once

#include "app/uSingleInstance.h"

namespace halvora {

// The named mutex "Local\HalvoraCliente": one interactive copy per Windows session. The
// handle stays open for the life of the process. A later copy brings the first copy's window
// forward itself, so the holder has nothing to listen for.
class TInstanceMarker final : public IInstanceMarker {
 public:
  bool Acquire() override;
  void Listen(std::function<void()>) override {}
  bool AskHolderToComeForward() override;
};

}  // namespace halvora

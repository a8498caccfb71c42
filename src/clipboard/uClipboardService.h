#pragma once

#include <cstdint>

#include "base/uBytes.h"
#include "protocol/uProtocol.h"

namespace halvora {

// Clipboard sharing with the technician while a session runs.
class IClipboardSync {
 public:
  virtual ~IClipboardSync() = default;
  virtual void Activate(TSendPacketFunc ASend) = 0;
  virtual void Deactivate() = 0;
  virtual void HandlePacket(std::uint8_t ACmd, const TIdBytes& APayload) = 0;
};

}  // namespace halvora

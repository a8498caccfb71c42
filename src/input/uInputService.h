#pragma once

#include <cstdint>

#include "protocol/uProtocol.h"

namespace halvora {

// Injection of the technician's input, in arrival order, on a worker of its own.
class IInputQueue {
 public:
  virtual ~IInputQueue() = default;
  virtual void QueueMouseInput(const TMousePacket& APacket, std::int32_t AMonitor) = 0;
  virtual void QueueKeyInput(const TKeyPacket& APacket) = 0;
  // Releases modifier keys that injected input left down.
  virtual void QueueReleaseKeys() = 0;
};

// Blocking of the local mouse and keyboard; injected input still passes.
class IInputBlocker {
 public:
  virtual ~IInputBlocker() = default;
  virtual void SetActive(bool AActive) = 0;
  virtual bool Active() const = 0;
};

}  // namespace halvora

#pragma once

#include <cstdint>
#include <memory>

#include "protocol/uProtocol.h"

namespace halvora {

// The frame streaming of a running session. Called on the relay client's thread under the
// controller's host lock, so nothing here may wait for another thread.
class ICaptureSession {
 public:
  // Destruction stops streaming and waits for the capture loop to end.
  virtual ~ICaptureSession() = default;
  virtual void FrameAcked() = 0;
  virtual void SelectMonitor(std::uint8_t AIndex) = 0;
};

class ICaptureFactory {
 public:
  virtual ~ICaptureFactory() = default;
  // Starts streaming at once; every frame and announcement goes out through ASend.
  virtual std::unique_ptr<ICaptureSession> Create(TSendPacketFunc ASend) = 0;
};

}  // namespace halvora

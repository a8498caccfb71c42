#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/uBytes.h"
#include "protocol/uProtocol.h"

namespace halvora {

// Sends one message; false when it could not be sent.
using TSendPacketFunc = std::function<bool(std::uint8_t ACmd, const TIdBytes& APayload)>;

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

// Clipboard sharing with the technician while a session runs.
class IClipboardSync {
 public:
  virtual ~IClipboardSync() = default;
  virtual void Activate(TSendPacketFunc ASend) = 0;
  virtual void Deactivate() = 0;
  virtual void HandlePacket(std::uint8_t ACmd, const TIdBytes& APayload) = 0;
};

// Ctrl+Alt+Del on the technician's request; false where this host cannot raise it.
class ISecureAttention {
 public:
  virtual ~ISecureAttention() = default;
  virtual bool SendSecureAttention() = 0;
};

// A brand's name and PNG logo (empty when none) as the brand service or its cache gave them.
using TMarcaEvento = std::function<void(const std::string& ACode, const std::string& AName,
                                        const TIdBytes& ALogoPng)>;

// What a brand lookup is for: the host's own brand, or the brand announced for a session.
enum class TBrandLookup { blHost, blSession };

// Brand lookup and cache.
class IBrandService {
 public:
  virtual ~IBrandService() = default;
  // The cached name and logo of ACode; false when nothing is cached.
  virtual bool CarregarMarca(const std::string& AFolder, const std::string& ACode,
                             std::string& AName, TIdBytes& ALogoPng) = 0;
  // Looks ACode up in the background; AReport runs on the main thread when it is found. A
  // lookup of AKind that still runs is cancelled first and reports nothing.
  virtual void BuscarMarca(TBrandLookup AKind, const std::string& AApiUrl,
                           const std::string& ACode, const std::string& AFolder,
                           TMarcaEvento AReport) = 0;
};

// Installation for all users, elevated.
class IInstaller {
 public:
  virtual ~IInstaller() = default;
  virtual bool InstallElevated(const std::string& AServerUrl, const std::string& AId,
                               const std::string& AKey, const std::string& ABrandCode) = 0;
};

// The subsystems the controller drives.
struct THostServices {
  std::shared_ptr<ICaptureFactory> Capture;
  std::shared_ptr<IInputQueue> Input;
  std::shared_ptr<IInputBlocker> Blocker;
  std::shared_ptr<IClipboardSync> Clip;
  std::shared_ptr<ISecureAttention> SecureAttention;
  std::shared_ptr<IBrandService> Brand;
  std::shared_ptr<IInstaller> Installer;
};

}  // namespace halvora

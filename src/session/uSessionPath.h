#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "base/uBytes.h"
#include "base/uThreadCheck.h"
#include "capture/uCaptureService.h"
#include "input/uInputService.h"

namespace halvora {

// What the relay client's thread reaches of a session without the main thread: frame
// acknowledgements, mouse, keys and monitor selection, and the session's outgoing sends.
// It is open only while a technician is admitted. Whatever ends a session (messages 5, 6 and
// 15, or the loss of the link) closes it on the relay client's thread before the main thread
// hears of the end, so that nothing the relay delivers after an end acts on this computer:
// the relay may already have paired someone else with this host.
class TSessionPath {
 public:
  explicit TSessionPath(std::shared_ptr<IInputQueue> AInput) : FInput(std::move(AInput)) {}
  TSessionPath(const TSessionPath&) = delete;
  TSessionPath& operator=(const TSessionPath&) = delete;

  // Relay client's thread. Serves 104, 105, 106 and 108 while open and consumes them in any
  // case (true). Notes 5, 6 and 15 as ends before they are queued to the main thread (false).
  bool DirectPacket(std::uint8_t ACmd, const TIdBytes& APayload);
  // Relay client's thread: the link is lost; noted as an end before the main thread hears.
  void LinkLost();

  // Main thread: a message or link loss that was noted as an end has reached the dispatch.
  void EndHandled();
  // Main thread: an end noted on the relay client's thread still waits in the main queue, so
  // the pairing that the message in hand belongs to is already over.
  bool EndPending() const;
  // Main thread: the relay client was replaced; the ends it had queued went with it.
  void ClientReplaced();

  using TCaptureStart = std::function<std::unique_ptr<ICaptureSession>(TSendPacketFunc)>;
  // Main thread: admits the technician: opens the path with the capture that AStart makes
  // with the session's send. False, with nothing made, when an end is pending.
  bool Open(TSendPacketFunc ASend, const TCaptureStart& AStart);
  // Main thread: closes the path and hands over the capture, to be destroyed outside the lock.
  std::unique_ptr<ICaptureSession> Close();
  // Main thread: the send of the session last opened: ASend of Open while that session lasts,
  // nothing once it has ended (also on the relay client's thread) or when Open was refused.
  TSendPacketFunc SessionSend() const;

 private:
  void WithdrawLocked();

  TThreadCheck FMainThread;  // the one that made the path
  const std::shared_ptr<IInputQueue> FInput;
  mutable std::mutex FHostLock;
  bool FHosting = false;                     // guarded by FHostLock
  std::unique_ptr<ICaptureSession> FCapture;  // guarded by FHostLock
  std::uint64_t FEndsNoted = 0;              // guarded by FHostLock
  std::uint64_t FEndsHandled = 0;            // main thread; written under FHostLock
  // Whether the session last opened may still send; a new one for every session. Apart from
  // FHosting so that senders need not wait for the lock while a frame goes out.
  std::shared_ptr<std::atomic<bool>> FSendOpen = std::make_shared<std::atomic<bool>>(false);
  TSendPacketFunc FSend;  // main thread
};

}  // namespace halvora
